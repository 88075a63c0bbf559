// Removal of JDK/JRE folders from an environment variable of this process,
// so that the updater started afterwards does not pick up a stray Java.
#pragma once

#include <string>

namespace kestrun {

// Removes every entry that names a folder holding java.exe (and every empty
// entry) from the variable, in this process's environment. True when the
// variable does not exist or the new value was written.
bool remove_jdk_from_variable(const std::wstring& name);

// Whether a Path entry is to be removed: it is empty, or entry\java.exe
// exists (file, folder or link).
bool holds_java_exe(const std::wstring& entry);

}  // namespace kestrun
