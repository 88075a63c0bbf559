// Starting another program without waiting for it, and the system's own
// wording of a Windows error for the log.
#pragma once

#include <optional>
#include <string>

namespace kestrun {

// The command line start_process hands to the new program: the executable
// name, then, when arguments are given (even empty ones), one blank and the
// arguments unchanged. A name with a blank in it is put in double quotes
// (unless it already begins with one), because the started program splits
// its command line at blanks and would otherwise take "C:\Program" for its
// own name and the rest for arguments.
std::string command_line_for(const std::string& executable,
                             const std::optional<std::string>& arguments);

// Starts executable (a relative name counts from the working directory, no
// PATH search) with the inherited environment and working directory, and
// does not wait. A failed start leaves the line
// "Error calling '<executable>' - <system text>" in the log.
void start_process(const std::string& executable,
                   const std::optional<std::string>& arguments = std::nullopt);

// The program Windows associates with a file (FindExecutableW, the file name
// counting from the working directory), or nothing when there is none. Both
// names are UTF-8.
std::optional<std::string> find_associated_program(const std::string& file_name);

// The system's message text for a Windows error code as UTF-8, as FormatMessageW
// gives it (trailing CR LF included); empty for 0 or an unknown code.
std::string error_text(unsigned long code);

// error_text for the calling thread's last error.
std::string last_error_text();

}  // namespace kestrun
