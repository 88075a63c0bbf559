#include "starter/pending_renames.h"

#include "runtime/directory_entry.h"
#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/replacement.h"
#include "runtime/retry.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

// What tells the jar pass from the DLL pass: the suffixes and the log texts.
struct pending_kind {
  const char* pending_suffix;
  const char* target_suffix;
  const char* renaming;
  const char* old_deleted;
  const char* old_not_deleted;
  const char* new_renamed;
  const char* new_not_renamed;
};

constexpr pending_kind pending_jar{".rename-to-jar",
                                   ".jar",
                                   "Renaming file: ",
                                   "Old file deleted.",
                                   "Old file could not be deleted.",
                                   "New file renamed.",
                                   "Failed to rename new file"};

constexpr pending_kind pending_dll{".new.dll",
                                   ".dll",
                                   "Renaming dll: ",
                                   "Old Dll deleted.",
                                   "Old Dll could not be deleted.",
                                   "New Dll renamed.",
                                   "Failed to rename new dll"};

// One pass over the folder: every entry whose name ends in the pending
// suffix (files and folders alike) takes the place of its target. The old
// target is moved aside first and removed only once the pending entry has
// taken its place, so a pending file that cannot be moved (held open by a
// scanner, say) leaves the old one where it was. A failed move aside does
// not stop the rename: MoveFileExW may still replace the old file. The
// pass goes through every entry before it reports. The folder is read
// once, up front: a renamed entry bears the target suffix and is not met
// again in the same pass.
bool rename_pending(const std::string& folder, const pending_kind& kind) {
  const std::string pending_suffix = kind.pending_suffix;
  const std::vector<directory_entry> listing = list_directory(widen(folder));
  settle_aside_copies(listing, remove_aside_file);
  bool result = true;
  for (const directory_entry& entry : listing) {
    const std::string name = entry_name(entry);
    if (!ends_with(name, pending_suffix)) continue;
    const std::string target_name =
        name.substr(0, name.size() - pending_suffix.size()) + kind.target_suffix;
    log_line(kind.renaming + name + " -> " + target_name);

    // The bare target name counts from the working directory, which is the
    // folder the starter works on. A folder with contents in the target's
    // place is not moved aside: it stays, as a delete without recursion
    // would leave it.
    replacement old_target;
    if (old_target.make_way(make_entry(widen(target_name)), false, listing)) {
      log_line(kind.old_deleted);
    } else {
      log_line(kind.old_not_deleted);
      result = false;
    }
    if (rename_entry(entry, target_name)) {
      log_line(kind.new_renamed);
      old_target.complete();
    } else {
      log_line(kind.new_not_renamed);
      old_target.undo();
      result = false;
    }
  }
  return result;
}

}  // namespace

bool rename_pending_jars(std::string folder) { return rename_pending(folder, pending_jar); }

bool rename_pending_dlls(std::string folder) { return rename_pending(folder, pending_dll); }

bool rename_new_dlls(std::string folder) {
  return retry_for_a_minute([&folder] { return rename_pending_dlls(folder); });
}

}  // namespace kestrun
