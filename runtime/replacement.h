// Replacing a file or a runtime folder without ever losing it. What a step
// would delete to make way for the new copy is first moved aside, by one
// rename within its own folder, and removed only once the new copy has
// taken its place; when the new copy cannot, the old one is moved back.
// A run that ends between two of these renames leaves a copy aside, which
// the next run settles before it does anything else in that folder.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/directory_entry.h"

namespace kestrun {

// The name an entry is moved aside to: "<name>.aside-<n>.old". No step
// takes such a name for something to install (it ends in neither ".new",
// ".new.dll", ".rename-to-jar" nor an updater file's suffix); in a runtime
// group it is an old runtime. n is one more than that of any copy of the
// same name already aside, so the highest n is the newest copy.
std::string aside_name(const std::string& name, unsigned long n);

// Whether name is an aside name; if so, original and n are set.
bool parse_aside_name(const std::string& name, std::string& original, unsigned long& n);
bool is_aside_name(const std::string& name);

// One replacement of an old entry by a new one.
class replacement {
 public:
  // Makes way for the new copy, in place of delete_entry(old_entry,
  // recursive): the same result and, on failure, the same error report.
  // What is there is moved aside; only a folder without recursion is
  // deleted as before (it goes when empty and is refused when it has
  // contents, and nothing in it is lost either way). listing is the
  // folder's listing, which tells what is aside already.
  bool make_way(const directory_entry& old_entry, bool recursive,
                const std::vector<directory_entry>& listing);

  // The new copy has taken the place: the old one is removed. If that
  // fails, it stays aside for a later run, with one log line.
  void complete();

  // The new copy did not take the place: the old one is moved back, with
  // one log line.
  void undo();

 private:
  fs::path original_;
  // What was moved aside, with its path aside; empty while nothing is.
  directory_entry aside_;
  bool recursive_ = false;
};

// Settles the copies left aside in a folder, by a run that ended between
// two renames or by a step that could not move a copy back, from its
// listing: where the original is missing, the newest copy is moved back;
// every other copy, whose original is there and whole, goes with
// remove_copy. Returns whether the folder was changed.
bool settle_aside_copies(const std::vector<directory_entry>& listing,
                         const std::function<void(const directory_entry&)>& remove_copy);

// remove_copy for the installation folder: removes a file left aside.
void remove_aside_file(const directory_entry& copy);

}  // namespace kestrun
