// The main sequence of the full starter.
#pragma once

#include <string>
#include <vector>

namespace kestrun {

inline constexpr char starter_log_file[] = "./log/starter.log";
// The log of the run before, kept when this run empties starter_log_file.
inline constexpr char starter_previous_log_file[] = "./log/starter.previous.log";
inline constexpr char starter_log_directory[] = "./log";
// Held by the run that works on the installation; see runtime/installation_lock.h.
inline constexpr char starter_lock_file[] = "./log/starter.lock";
inline constexpr char updater_base_name[] = "Updater_Client";

// Runs the maintenance steps and starts the updater. The command line is
// cut into tokens in place. run_lines are logged right after "starting...":
// how this run came to hold the installation and whether the previous log
// could be kept. Returns 0 when the sequence ran to its end, 1 when a step
// failed. Exceptions of the steps pass through.
int run_sequence(char* command_line,
                 const std::vector<std::string>& run_lines = std::vector<std::string>());

// Logs and starts Updater_Client.exe with the arguments.
void start_updater(const std::string& arguments);

// The failure path: offers the log to the user in the program Windows
// associates with it.
void show_log_to_user();

// The whole run as the entry point does it: waits until no other run works
// on the installation (for at most five minutes; after that it touches
// nothing, adds its reason to the other run's log, shows the log and
// returns 1), keeps the previous run's log, then runs the sequence.
// command_line is the UTF-8 text after the program name. Returns the exit
// code.
int run_starter(char* command_line);

}  // namespace kestrun
