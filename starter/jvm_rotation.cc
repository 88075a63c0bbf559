#include "starter/jvm_rotation.h"

#include <cstddef>

#include "runtime/directory_entry.h"
#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/replacement.h"
#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

constexpr char jvm_root_below_folder[] = "\\..\\JVM";
// Both suffixes are four characters long; the actual runtime's path is the
// new runtime's path without them.
constexpr char old_suffix[] = ".old";
constexpr char new_suffix[] = ".new";
constexpr std::size_t suffix_length = sizeof(new_suffix) - 1;

// Whether a runtime path names a folder of its own directly inside the
// group. The paths are made as text, and Windows resolves them by its own
// rules: the actual runtime of "..new" would be ".", the group itself; of
// "...new" "..", the JVM root; of " .new" a name of blanks, which Windows
// drops, again the group. A recursive delete of any of them would take
// every runtime with it.
bool is_runtime_of_group(const std::string& runtime_path, const directory_entry& group) {
  return names_entry_directly_inside(widen(runtime_path), group.path);
}

// Deletes an old runtime with everything in it. A runtime some program still
// runs from stays (partly) in place; that does not fail the pass, and the
// starter's next run tries again.
void delete_old_runtime(const std::string& old_runtime) {
  log_line("'Deleting old JVM: " + old_runtime);
  if (delete_entry(make_entry(widen(old_runtime)), true)) {
    log_line("Old JVM deleted: " + old_runtime);
  } else {
    log_line("Old JVM could not be deleted: " + old_runtime);
  }
}

// Replaces the actual runtime with the new one. The actual runtime is never
// deleted in place: it is moved aside whole, the new one renamed into its
// place, and only then is the old copy removed. If that removal fails (a
// program still runs from it), the copy stays as an old runtime that a later
// pass removes. When the new runtime cannot be renamed, the old one is moved
// back and the pass fails. On Windows a folder with a file open anywhere
// inside cannot be renamed, so a runtime in use stays whole in its place.
bool install_new_runtime(const directory_entry& group, const directory_entry& new_runtime,
                         const std::string& new_path,
                         const std::vector<directory_entry>& runtimes) {
  const std::string actual = new_path.substr(0, new_path.size() - suffix_length);
  // "jdk..new" still counts: its actual runtime "jdk." is "jdk" to Windows.
  if (!is_runtime_of_group(actual, group)) {
    log_line("New JVM left alone, its name leaves no runtime folder of its own: " + new_path);
    return true;
  }
  log_line("Renaming JVM folder: " + new_path + " -> " + actual);
  replacement actual_runtime;
  if (!actual_runtime.make_way(make_entry(widen(actual)), true, runtimes)) {
    log_line("Actual JVM could not be deleted: " + actual);
    return false;
  }
  log_line("Actual JVM deleted: " + actual);
  if (!rename_entry(new_runtime, actual)) {
    log_line("Failed to rename new JVM: " + new_path + " -> " + actual);
    actual_runtime.undo();
    return false;
  }
  log_line("New JVM renamed: " + new_path + " -> " + actual);
  actual_runtime.complete();
  return true;
}

}  // namespace

bool rotate_jvm_folders(std::string folder) {
  bool result = true;
  const std::string jvm_root = folder + jvm_root_below_folder;
  for (const directory_entry& group : list_directory(widen(jvm_root))) {
    // Logged before the group is listed, so a plain file lying in the JVM
    // root shows in the log before its listing error ends the step.
    log_line("Checking JVMs in : " + narrow_path(group.path));
    const std::vector<directory_entry> runtimes = list_directory(group.path);
    // Runtimes left aside (by a run that ended half-way) are put back or removed as old
    // runtimes before anything else in the group.
    settle_aside_copies(
        runtimes, [](const directory_entry& copy) { delete_old_runtime(narrow_path(copy.path)); });
    for (const directory_entry& runtime : runtimes) {
      if (is_aside_name(entry_name(runtime))) continue;
      // Links count as what they point to: a link to a folder is a runtime
      // folder, a link to a file or to nothing is not.
      if (!is_folder_following_links(runtime)) continue;
      const std::string path = narrow_path(runtime.path);
      if (ends_with(path, old_suffix)) {
        // Even a folder named just ".old" is an old runtime of its own: its
        // path names that folder alone, never the group.
        if (is_runtime_of_group(path, group)) {
          delete_old_runtime(path);
        } else {
          log_line("Old JVM left alone, its name names no runtime folder of its own: " + path);
        }
      } else if (ends_with(path, new_suffix)) {
        if (!install_new_runtime(group, runtime, path, runtimes)) result = false;
      }
    }
  }
  return result;
}

bool rename_new_jvms(std::string folder) {
  return retry_for_a_minute([&folder] { return rotate_jvm_folders(folder); });
}

}  // namespace kestrun
