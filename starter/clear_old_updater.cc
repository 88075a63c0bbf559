#include "starter/clear_old_updater.h"

#include <cstdint>
#include <string>

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
      // Joined as text: the log shows the path exactly as formed here.
      const std::string path = directory + "/" + name;
      // A status that cannot be read (other than "not there") is thrown and
      // ends the operation.
      const directory_entry entry = make_entry(widen(path));
      if (!entry.exists) continue;
      if (delete_entry(entry)) {
        log_line("File deleted: " + path);
        continue;
      }
      // Held open by another program (or a folder with contents): wait a
      // second here, then go on with the rest of the list and try this one
      // again in the next pass.
      log_line("Could not delete file: " + path);
      retry = true;
      log_line("Waiting a bit...");
      wait_one_second();
    }
    if (!retry) return;
  }
}

}  // namespace kestrun
