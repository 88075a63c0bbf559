// The main sequence of the full starter.
#pragma once

#include <string>

namespace kestrun {

inline constexpr char starter_log_file[] = "./log/starter.log";
inline constexpr char starter_log_directory[] = "./log";
inline constexpr char updater_base_name[] = "Updater_Client";

// Runs the maintenance steps and starts the updater. The command line is
// cut into tokens in place. Returns 0 when the sequence ran to its end, 1
// when a step failed. Exceptions of the steps pass through.
int run_sequence(char* command_line);

// Logs and starts Updater_Client.exe with the arguments.
void start_updater(const std::string& arguments);

// The failure path: offers the log to the user in the program Windows
// associates with it.
void show_log_to_user();

// The whole run as the entry point does it; returns the exit code.
int run_starter(char* command_line);

}  // namespace kestrun
