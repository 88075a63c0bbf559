#include "runtime/replacement.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "runtime/file_operations.h"
#include "runtime/log.h"
#include "runtime/text.h"

namespace kestrun {

namespace {

constexpr char aside_marker[] = ".aside-";
constexpr char aside_suffix[] = ".old";
// Names taken in the meantime by another program are skipped, up to this
// many; past it the move aside fails like a delete.
constexpr unsigned long names_to_try = 1000;

std::string system_text(const fs::filesystem_error& error) {
  return error.code().category() == std::system_category()
             ? windows_error_message(static_cast<unsigned long>(error.code().value()))
             : error.code().message();
}

// One rename within a folder: no replacing (the name aside is new, and the
// place moved back to is empty) and no copying to another volume.
bool move_within_folder(const fs::path& from, const fs::path& to) {
  return MoveFileExW(extended_length_path(from).c_str(), extended_length_path(to).c_str(), 0) != 0;
}

// Removes a copy that is aside, as its status says. Its name is longer than
// the original's, so it is reached in the "\\?\" form, which has no
// 260-character limit.
void remove_aside(directory_entry aside, bool recursive) {
  aside.path = extended_length_path(aside.path);
  remove_entry(aside, recursive);
}

// A cheap first test on the wide path, before its name is converted: a
// step may scan a folder of thousands of entries for each file it replaces.
bool may_be_aside(const directory_entry& entry) {
  const std::wstring& path = entry.path.native();
  return path.size() >= 4 && path.compare(path.size() - 4, 4, L".old") == 0;
}

bool parse_aside_entry(const directory_entry& entry, std::string& original, unsigned long& n) {
  return may_be_aside(entry) && parse_aside_name(entry_name(entry), original, n);
}

unsigned long highest_aside_number(const std::vector<directory_entry>& listing,
                                   const std::string& name) {
  unsigned long highest = 0;
  for (const directory_entry& entry : listing) {
    std::string original;
    unsigned long n = 0;
    if (parse_aside_entry(entry, original, n) && original == name) {
      highest = std::max(highest, n);
    }
  }
  return highest;
}

}  // namespace

std::string aside_name(const std::string& name, unsigned long n) {
  return name + aside_marker + std::to_string(n) + aside_suffix;
}

bool parse_aside_name(const std::string& name, std::string& original, unsigned long& n) {
  if (!ends_with(name, aside_suffix)) return false;
  const std::string rest = name.substr(0, name.size() - (sizeof(aside_suffix) - 1));
  const size_t marker = rest.rfind(aside_marker);
  if (marker == std::string::npos || marker == 0) return false;
  const std::string digits = rest.substr(marker + sizeof(aside_marker) - 1);
  if (digits.empty() || digits.size() > 9) return false;
  for (const char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  original = rest.substr(0, marker);
  n = std::stoul(digits);
  return true;
}

bool is_aside_name(const std::string& name) {
  std::string original;
  unsigned long n = 0;
  return parse_aside_name(name, original, n);
}

bool replacement::make_way(const directory_entry& old_entry, bool recursive,
                           const std::vector<directory_entry>& listing) {
  return logged_as_delete(old_entry, [&] {
    const directory_entry current = make_entry(old_entry.path);
    if (!current.exists) return;
    // The delete without recursion refuses a folder with contents, and an
    // empty one holds nothing to lose: it is deleted as it always was.
    if (!recursive && current.is_directory()) return remove_entry(current, false);
    const std::string name = entry_name(current);
    const unsigned long first = highest_aside_number(listing, name) + 1;
    DWORD error = ERROR_SUCCESS;
    for (unsigned long n = first; n < first + names_to_try; ++n) {
      const fs::path aside = current.path.parent_path() / widen(aside_name(name, n));
      if (move_within_folder(current.path, aside)) {
        original_ = current.path;
        aside_ = current;
        aside_.path = aside;
        recursive_ = recursive;
        return;
      }
      error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    // Reported as the delete it stands in for: the path alone, and what
    // Windows said about moving it (a file held open, no access).
    throw_windows_error("remove", current.path, error);
  });
}

void replacement::complete() {
  if (!aside_.exists) return;
  try {
    remove_aside(aside_, recursive_);
  } catch (const fs::filesystem_error& error) {
    log_line("Could not remove the old copy moved aside, a later run removes it: " +
             narrow_path(aside_.path) + " - " + system_text(error));
  }
  aside_ = directory_entry();
}

void replacement::undo() {
  if (!aside_.exists) return;
  if (move_within_folder(aside_.path, original_)) {
    log_line("Put the old copy back, the new one did not take its place: " +
             narrow_path(original_));
  } else {
    const DWORD error = GetLastError();
    log_line("Could not put the old copy back, the next run does: " + narrow_path(aside_.path) +
             " -> " + narrow_path(original_) + " - " + windows_error_message(error));
  }
  aside_ = directory_entry();
}

bool settle_aside_copies(const std::vector<directory_entry>& listing,
                         const std::function<void(const directory_entry&)>& remove_copy) {
  // The copies of each original, newest (highest number) first.
  std::map<std::string, std::vector<std::pair<unsigned long, const directory_entry*>>> copies;
  for (const directory_entry& entry : listing) {
    std::string original;
    unsigned long n = 0;
    if (parse_aside_entry(entry, original, n)) copies[original].push_back({n, &entry});
  }
  for (auto& [name, aside] : copies) {
    std::sort(aside.begin(), aside.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    const fs::path newest = aside.front().second->path;
    const fs::path original = newest.parent_path() / widen(name);
    size_t first_to_remove = 0;
    if (!make_entry(original).exists) {
      // The run that moved it aside ended before the new copy took its
      // place: the newest copy is the whole one, the older ones may be
      // partly removed.
      if (!move_within_folder(newest, original)) {
        const DWORD error = GetLastError();
        log_line("Could not put back a copy left aside: " + narrow_path(newest) + " -> " +
                 narrow_path(original) + " - " + windows_error_message(error));
        continue;
      }
      log_line("Put back a copy left aside: " + narrow_path(newest) + " -> " +
               narrow_path(original));
      first_to_remove = 1;
    }
    for (size_t i = first_to_remove; i < aside.size(); ++i) remove_copy(*aside[i].second);
  }
  return !copies.empty();
}

void remove_aside_file(const directory_entry& copy) {
  try {
    remove_aside(copy, false);
    log_line("Removed a copy left aside: " + narrow_path(copy.path));
  } catch (const fs::filesystem_error& error) {
    log_line("Could not remove a copy left aside, a later run tries again: " +
             narrow_path(copy.path) + " - " + system_text(error));
  }
}

}  // namespace kestrun
