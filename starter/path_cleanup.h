// Removal of JDK/JRE folders from an environment variable of this process,
// so that the updater started afterwards, which inherits this process's
// environment block, does not pick up a stray Java. Nothing is stored
// anywhere else: the machine's and the user's settings stay as they are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "runtime/directory_entry.h"
#include "runtime/environment.h"

namespace kestrun {

// Removes every entry that names a folder holding java.exe (and every empty
// entry) from the variable in this process's environment, logging the old
// value, each entry removed and the new value, and writes the new value back
// even when nothing was removed. Windows compares variable names without
// regard to case, so "Path" and "PATH" act on the same variable.
// True when the variable does not exist (it is not created then) or the new
// value was written; false, after a log line, when memory ran out or
// Windows refused the read or the write. An entry whose file-system check
// fails for another reason than "nothing there" (an unreachable share, a
// name too long) is kept, with one log line naming it and the error. An
// entry that comes more than once is checked once, and logged each time.
bool remove_jdk_from_variable(const std::wstring& name);

// The two environment calls remove_jdk_from_variable makes, with
// GetEnvironmentVariableW's and SetEnvironmentVariableW's contracts (see
// runtime/environment.h).
struct environment_calls {
  environment_read (*read)(const std::wstring& name, wchar_t* buffer, std::size_t units);
  unsigned long (*write)(const std::wstring& name, const std::wstring& value);
};

// The process's own environment: the calls the one-argument form uses.
const environment_calls& process_environment();

// remove_jdk_from_variable on other calls, so tests can watch the reads
// (one into 4096 units, and a second one only for a longer value) and make
// a read or the write fail.
bool remove_jdk_from_variable(const std::wstring& name, const environment_calls& calls);

// The two file-system queries that tell whether an entry holds java.exe,
// with make_entry's and path_exists's contracts (see
// runtime/directory_entry.h).
struct java_exe_queries {
  directory_entry (*status)(const fs::path& path);
  bool (*exists)(const fs::path& path);
};

// The file system itself: the queries remove_jdk_from_path makes by default.
const java_exe_queries& file_system_queries();

// The PATH cleanup of a run: remove_jdk_from_variable for "Path", "PATH" and
// "path", in this order, with the line "Failed to remove Jdk from Path"
// after each call that returns false. The three names are one variable to
// Windows, so the later calls meet only entries an earlier call has
// checked: each distinct entry (the same text) is asked about once, and the
// later calls reuse its answer (kept, removed, or kept after an error) and
// log exactly what a check of their own would have logged. An entry on a
// network drive whose server is away can cost seconds per query.
void remove_jdk_from_path(const java_exe_queries& queries = file_system_queries());

// Whether a Path entry is to be removed: it is empty, or its java.exe
// candidate exists (file, folder, or link whose target exists). A relative
// entry counts from the current directory. Windows errors 2, 3, 53 and 123
// mean nothing is there; any other error is thrown as a filesystem error.
// The candidate's own status is queried first; whether it exists when links
// are followed only when something is there.
bool holds_java_exe(const std::wstring& entry);

// The entries of a value, split at ";" only (quotes mean nothing, nothing is
// trimmed): a ";" at the end gives no further entry, two in a row (or one at
// the start) an empty one.
std::vector<std::wstring> split_path_entries(const std::wstring& value);

// A value made of entries: each one followed by ";", so a value that is not
// empty always ends with ";". No entries give the empty value.
std::wstring join_path_entries(const std::vector<std::wstring>& entries);

// The name tested for an entry: entry + "\java.exe", or entry + "java.exe"
// when the entry already ends with a backslash. A trailing "/" does not
// count, and "C:" becomes "C:\java.exe", the drive's root.
std::wstring java_exe_candidate(const std::wstring& entry);

}  // namespace kestrun
