#include "starter/sequence.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "runtime/directory_entry.h"
#include "runtime/file_holders.h"
#include "runtime/installation_lock.h"
#include "runtime/log.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "starter/clear_old_updater.h"
#include "starter/command_line.h"
#include "starter/jvm_rotation.h"
#include "starter/path_cleanup.h"
#include "starter/pending_renames.h"
#include "starter/replace_updater.h"

namespace kestrun {

namespace {

constexpr char installation_directory[] = ".";
constexpr const char* updater_suffixes[] = {".exe", ".jar", ".sh"};

}  // namespace

int run_sequence(char* command_line, const std::vector<std::string>& run_lines) {
  log_line("starting...");
  for (const std::string& line : run_lines) log_line(line);
  log_line(std::string("Arguments: ") + command_line);
  const auto command_line_length = static_cast<std::int32_t>(std::strlen(command_line));

  const std::string new_arguments =
      take_new_arguments(command_line, [] { clear_old_updater(installation_directory); });
  if (arguments_changed(command_line_length, new_arguments)) {
    log_line("New Arguments: " + new_arguments);
  }

  // A jar that could not be renamed does not stop the update: the updater
  // itself can still repair the installation.
  rename_pending_jars(installation_directory);

  for (const char* suffix : updater_suffixes) {
    if (!replace_updater(installation_directory, updater_base_name, suffix)) return 1;
  }

  log_line("Renaming new JVMs...");
  if (!rename_new_jvms(installation_directory)) {
    log_line("Renaming new JVMs failed");
    return 1;
  }

  log_line("Renaming new DLLs...");
  if (!rename_new_dlls(installation_directory)) {
    log_line("Renaming new DLLs failed");
    return 1;
  }

  log_line("Removing JDK/JRE from path.");
  remove_jdk_from_path();

  try {
    start_updater(new_arguments);
  } catch (const std::exception& error) {
    log_line(error.what());
  } catch (...) {
    log_line("unknown exception");
  }
  log_line("finished");
  return 0;
}

void start_updater(const std::string& arguments) {
  const std::string executable = std::string(updater_base_name) + ".exe";
  log_line("Starting " + executable + " " + arguments);
  // The argument string is always given, so the command line keeps the
  // trailing blank of the passed-on arguments.
  start_process(executable, arguments);
}

void show_log_to_user() {
  log_line("Failed to start the Updater - Open Log-File for the user...");
  // The viewer reads the file while this process still has it open.
  starter_log.flush();
  try {
    const std::optional<std::string> viewer = find_associated_program(starter_log_file);
    if (!viewer) {
      log_line("Could not find executable for the log file.");
    } else {
      start_process(*viewer, std::string(starter_log_file));
    }
  } catch (const std::exception& error) {
    log_line(error.what());
  } catch (...) {
    log_line("unknown exception");
  }
}

namespace {

// What the log says of the lock of a run that goes on: nothing when the
// installation was free at once.
std::string lock_line(const installation_lock& lock) {
  if (lock.result() == installation_lock::state::unavailable) {
    return "Could not lock the installation against other runs of the starter, going on "
           "without: " +
           windows_error_message(lock.error());
  }
  if (lock.waited().count() > 0) {
    return "Waited for another run of the starter in this installation to end, ms: " +
           std::to_string(lock.waited().count());
  }
  return std::string();
}

// The reason a run gives up with, naming the run it waited for when
// Windows can tell.
std::string timed_out_line(const installation_lock& lock) {
  std::string line =
      "Another run of the starter kept this installation too long, nothing was touched, "
      "waited ms: " +
      std::to_string(lock.waited().count());
  const std::string holder = programs_holding(std::filesystem::path(widen(starter_lock_file)));
  if (!holder.empty()) line += ", held by: " + holder;
  return line;
}

}  // namespace

int run_starter(char* command_line) {
  try {
    create_log_directory(starter_log_directory);
  } catch (...) {
    // Without ./log there is no log to write to or to show: nothing runs,
    // and the exit code says the update did not happen.
    return 1;
  }

  // Nothing of the installation, the log included, is touched before this
  // run holds it.
  const installation_lock lock(starter_lock_file, installation_wait_limit);
  if (lock.result() == installation_lock::state::timed_out) {
    // The other run's log is neither emptied nor kept aside: this run's
    // lines go after its lines.
    const std::string reason = timed_out_line(lock);
    starter_log.open_for_append(starter_log_file);
    log_line(reason);
    show_log_to_user();
    starter_log.close();
    return 1;
  }

  int result = 0;
  try {
    std::vector<std::string> run_lines;
    const std::string locked = lock_line(lock);
    if (!locked.empty()) run_lines.push_back(locked);
    // Kept only now that this run holds the installation: a run waiting
    // for another must not take that run's log away from under it.
    const std::string not_kept = keep_previous_log(starter_log_file, starter_previous_log_file);
    if (!not_kept.empty()) run_lines.push_back(not_kept);
    starter_log.open(starter_log_file);
    result = run_sequence(command_line, run_lines);
  } catch (const std::exception& error) {
    log_line(error.what());
    result = 1;
  } catch (...) {
    log_line("unknown exception");
    result = 1;
  }
  // An exception that ended the run before the updater was started (a
  // missing JVM folder, a listing that failed) is a failed update as much
  // as a step that returned false: the user is shown the log.
  if (result != 0) show_log_to_user();
  starter_log.close();
  return result;
}

}  // namespace kestrun
