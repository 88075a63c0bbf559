#include "starter/replace_updater.h"

#include <cstdint>
#include <optional>

#include "runtime/directory_entry.h"
#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/replacement.h"
#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

constexpr int delete_attempts = 5;

bool is_candidate(const std::string& name, const std::string& prefix, const std::string& suffix) {
  return starts_with(name, prefix) && ends_with(name, suffix);
}

// Moves the old file out of the way in up to five attempts, waiting one
// second after every failed one (the last included): a starting or ending
// updater process may still hold it for a moment.
void delete_old_updater(const directory_entry& old_entry, replacement& old_updater,
                        const std::vector<directory_entry>& listing) {
  for (int attempt = 1; attempt <= delete_attempts; ++attempt) {
    if (attempt > 1) log_line("Retrying to delete old updater.");
    if (old_updater.make_way(old_entry, false, listing)) {
      log_line("Old updater deleted.");
      return;
    }
    wait_one_second();
  }
}

void delete_older_candidates(const std::string& directory, const std::string& prefix,
                             const std::string& suffix, const std::string& target_name) {
  for (const directory_entry& entry : list_directory(widen(directory))) {
    const std::string name = entry_name(entry);
    if (name == target_name || !is_candidate(name, prefix, suffix)) continue;
    if (delete_entry(entry)) {
      log_line("Old updater file deleted: " + name);
    } else {
      log_line("Failed to delete old updater file: " + name);
    }
  }
}

}  // namespace

bool replace_updater(std::string directory, std::string prefix, std::string suffix) {
  const std::string target_name = prefix + suffix;
  log_line("Locking for updates of: " + target_name);

  // Copies left aside (by a run that ended half-way) are settled first. One that was put
  // back is a candidate again, so the folder is read anew.
  std::vector<directory_entry> listing = list_directory(widen(directory));
  if (settle_aside_copies(listing, remove_aside_file)) listing = list_directory(widen(directory));

  // Ages are compared in whole seconds; of equally new files the first one
  // listed wins, and a file dated before 1970 is never taken.
  std::int64_t newest_time = -1;
  std::optional<directory_entry> newest;
  for (const directory_entry& entry : listing) {
    if (!is_candidate(entry_name(entry), prefix, suffix)) continue;
    const std::int64_t age = last_write_unix_seconds(entry);
    if (age > newest_time) {
      newest_time = age;
      newest = entry;
    }
  }
  if (!newest) {
    log_line("No updater file found with name: " + target_name);
    return false;
  }
  if (entry_name(*newest) == target_name) {
    log_line("Updader file already up to date: " + target_name);
    return true;
  }

  const directory_entry old_entry = make_entry(widen(directory + "/" + target_name));
  log_line("Deleting old updater: " + entry_name(old_entry));
  // The old file is only moved aside until the new one has its name: an
  // installation is never left without its updater.
  replacement old_updater;
  if (old_entry.exists) delete_old_updater(old_entry, old_updater, listing);
  if (path_exists(old_entry.path)) {
    log_line("Failed to delete old updater.");
    return false;
  }

  log_line("Renaming new updater: " + entry_name(*newest) + " -> " + entry_name(old_entry));
  if (!rename_entry(*newest, target_name)) {
    log_line("Failed to rename new updater.");
    old_updater.undo();
    return false;
  }
  log_line("New updater renamed.");
  old_updater.complete();

  delete_older_candidates(directory, prefix, suffix, target_name);
  return true;
}

}  // namespace kestrun
