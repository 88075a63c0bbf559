// The full starter's command line: its own switch is taken out, everything
// else is passed on to the updater.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrun {

inline constexpr char clear_old_updater_switch[] = "--clearOldUpdater";

// The arguments in a process's whole command line (GetCommandLineW): the
// program name is skipped (a name in double quotes up to its closing quote,
// counted as one), then the blanks, tabs and other characters up to code 32
// after it. Nothing else is looked at, so every character of the first
// argument stays, whatever its code.
const wchar_t* arguments_after_program_name(const wchar_t* command_line);

// Cuts the command line into tokens in place, at blanks only (runs of
// blanks count as one; tabs, quotes and backslashes are ordinary
// characters). Each token equal to "--clearOldUpdater" calls on_switch the
// moment it is met; every other token is appended to the result followed by
// one blank.
std::string take_new_arguments(char* command_line, const std::function<void()>& on_switch);

// Whether the "New Arguments: " line is written: when the command line's
// length differs from the new arguments' length less one, that is unless the
// command line is not empty, holds no switch and has exactly one blank
// between its tokens and none at its end.
bool arguments_changed(std::int32_t command_line_length, const std::string& new_arguments);

}  // namespace kestrun
