#include "starter/clear_old_updater.h"

#include "runtime/directory_entry.h"
#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

void clear_old_updater(std::string directory) {
  const std::int64_t start = retry_start();
  // The limit is tested before each pass only, so the last pass may end
  // after the minute is over. A file still held when it ends stays.
  while (within_retry_limit(start)) {
    bool retry = false;
    for (const char* name : obsolete_files) {
      const std::string path = directory + "/" + name;
      const directory_entry entry = make_entry(widen(path));
      if (!entry.exists) continue;
      if (delete_entry(entry)) {
        log_line("File deleted: " + path);
        continue;
      }
      log_line("Could not delete file: " + path);
      retry = true;
      log_line("Waiting a bit...");
      wait_one_second();
    }
    if (!retry) return;
  }
}

}  // namespace kestrun
