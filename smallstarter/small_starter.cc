#include "smallstarter/small_starter.h"

#include <exception>
#include <optional>
#include <string>

#include "runtime/log.h"
#include "runtime/process.h"

namespace kestrun {

int run_small_starter(const small_starter_variant& variant) {
  // Starting the updater is the program's whole purpose, so a log folder that
  // cannot be made (a plain file named "log", a read-only installation) only
  // costs the log: the run goes on without one.
  std::string not_kept;
  try {
    create_log_directory(small_starter_log_directory);
    not_kept = keep_previous_log(variant.log_file, variant.previous_log_file);
    starter_log.open(variant.log_file);
  } catch (...) {
  }

  log_line("starting...");
  if (!not_kept.empty()) log_line(not_kept);
  try {
    std::optional<std::string> argument;
    if (variant.updater_argument != nullptr) argument = variant.updater_argument;
    start_process(small_starter_updater, argument);
  } catch (const std::exception& error) {
    log_line(error.what());
  } catch (...) {
    log_line("unknown exception");
  }
  log_line("finished");
  starter_log.close();
  return 0;
}

}  // namespace kestrun
