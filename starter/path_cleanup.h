// Removal of JDK/JRE folders from an environment variable of this process,
// so that the updater started afterwards does not pick up a stray Java.
#pragma once

#include <string>
#include <vector>

namespace kestrun {

// Removes every entry that names a folder holding java.exe (and every empty
// entry) from the variable, in this process's environment. True when the
// variable does not exist or the new value was written.
bool remove_jdk_from_variable(const std::wstring& name);

// Whether a Path entry is to be removed: it is empty, or entry\java.exe
// exists (file, folder or link).
// Throws a filesystem error when the file system cannot say.
bool holds_java_exe(const std::wstring& entry);

// The entries of a value, split at ";" only: a ";" at the end gives no
// further entry, two in a row (or one at the start) an empty one.
std::vector<std::wstring> split_path_entries(const std::wstring& value);

// The name tested for an entry: entry\java.exe, or entry + "java.exe" when
// the entry already ends with a backslash.
std::wstring java_exe_candidate(const std::wstring& entry);

}  // namespace kestrun
