#include "starter/jvm_rotation.h"

#include "runtime/directory_entry.h"
#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

constexpr char jvm_root_below_folder[] = "\\..\\JVM";
constexpr char old_suffix[] = ".old";
constexpr char new_suffix[] = ".new";

void delete_old_runtime(const std::string& old_runtime) {
  log_line("'Deleting old JVM: " + old_runtime);
  if (delete_entry(make_entry(widen(old_runtime)), true)) {
    log_line("Old JVM deleted: " + old_runtime);
  } else {
    log_line("Old JVM could not be deleted: " + old_runtime);
  }
}

// Replaces the actual runtime with the new one. False when either step
// failed; the next pass takes up from what this one left.
bool install_new_runtime(const directory_entry& new_runtime, const std::string& new_path) {
  const std::string actual = new_path.substr(0, new_path.size() - 4);
  log_line("Renaming JVM folder: " + new_path + " -> " + actual);
  if (!delete_entry(make_entry(widen(actual)), true)) {
    log_line("Actual JVM could not be deleted: " + actual);
    return false;
  }
  log_line("Actual JVM deleted: " + actual);
  if (!rename_entry(new_runtime, actual)) {
    log_line("Failed to rename new JVM: " + new_path + " -> " + actual);
    return false;
  }
  log_line("New JVM renamed: " + new_path + " -> " + actual);
  return true;
}

}  // namespace

bool rotate_jvm_folders(std::string folder) {
  bool result = true;
  const std::string jvm_root = folder + jvm_root_below_folder;
  for (const directory_entry& group : list_directory(widen(jvm_root))) {
    log_line("Checking JVMs in : " + narrow_path(group.path));
    for (const directory_entry& runtime : list_directory(group.path)) {
      // Links count as what they point to: a link to a folder is a runtime
      // folder, a link to a file or to nothing is not.
      if (!is_folder_following_links(runtime)) continue;
      const std::string path = narrow_path(runtime.path);
      if (ends_with(path, old_suffix)) {
        delete_old_runtime(path);
      } else if (ends_with(path, new_suffix)) {
        // A folder named just ".new" is no new runtime: its actual runtime
        // would be the group folder itself, with every runtime in it. It is
        // left alone.
        if (entry_name(runtime) == new_suffix) continue;
        if (!install_new_runtime(runtime, path)) result = false;
      }
    }
  }
  return result;
}

bool rename_new_jvms(std::string folder) {
  return retry_for_a_minute([&folder] { return rotate_jvm_folders(folder); });
}

}  // namespace kestrun
