// The logged delete and rename every maintenance step goes through. Neither
// throws: a failure is written to the log as a seven-line error report and
// returned as false, and the calling step decides what follows.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "runtime/directory_entry.h"

namespace kestrun {

// Removes what the entry's path names. Without recursion: a file, a link or
// an empty folder (a folder with contents fails with Windows error 145).
// With recursion: the folder and everything below it, where every junction
// or symbolic link met is removed itself and its target left alone. A path
// that does not exist is no error. Returns false after an error report.
bool delete_entry(directory_entry entry, bool recursive = false);

// What delete_entry does, without the report and without reading the
// status again: the entry's status, just read, decides how it is removed. A
// failure is thrown as a filesystem error naming the path as the entry
// gives it.
void remove_entry(const directory_entry& current, bool recursive);

// Runs operation in place of deleting entry: what it throws is reported as
// delete_entry reports a failed delete ("Error deleting '<name>'"), and
// false returned.
bool logged_as_delete(const directory_entry& entry, const std::function<void()>& operation);

// Renames the entry's path to new_name (relative names count from the
// working directory) with MoveFileExW, replacing an existing file of that
// name and copying across volumes. Returns false after an error report.
bool rename_entry(directory_entry entry, std::string new_name);

// Writes the seven-line report for a filesystem error, first_line being
// "Error deleting '...'" or "Error renaming '...' to '...'", and after it,
// when the error says the path is in use, the programs holding it
// (runtime/file_holders.h).
void log_error_report(const std::string& first_line,
                      const std::filesystem::filesystem_error& error);

// A path the way the standard library streams one: in double quotes, with a
// backslash before every backslash and double quote.
std::string quoted_path(const std::filesystem::path& path);

// The absolute "\\?\" form of a path. A folder tree can be deeper than the
// 260 characters ordinary Win32 paths allow (an old runtime nested a hundred
// folders deep); the extended-length form lifts that limit, so a recursive
// delete reaches every file below the folder it was given.
std::filesystem::path extended_length_path(const std::filesystem::path& path);

// Hook for tests: the one place that decides whether a recursive delete
// treats an entry as a link (remove it, do not descend).
bool is_link_to_remove_not_descend(const directory_entry& entry);

}  // namespace kestrun
