// Pending renames in the installation folder: an update cannot overwrite a
// jar or DLL that a running program holds, so it leaves the new copy beside
// it, "x.rename-to-jar" for "x.jar" and "x.new.dll" for "x.dll", and the
// starter puts it in place before the updater runs.
#pragma once

#include <string>

namespace kestrun {

// One pass over the entries of folder (files and folders alike, no
// recursion). Every entry whose name ends in ".rename-to-jar" (compared byte
// for byte) takes the place of the entry named like it with ".jar" instead:
// the old one is deleted without recursion, then the pending one is renamed.
// The target is the bare name, which counts from the working directory, so
// folder is meant to be ".". A failed delete does not stop the rename.
// Returns false when any delete or rename failed, after every pending entry
// has been tried; true otherwise, also when nothing was pending. Errors of
// listing the folder or of reading a target's status are thrown as
// std::filesystem::filesystem_error.
bool rename_pending_jars(std::string folder);

// The same pass for pending DLLs: "x.new.dll" takes the place of "x.dll",
// with the DLL step's own log lines.
bool rename_pending_dlls(std::string folder);

// rename_pending_dlls, repeated once a second until a pass succeeds or a
// minute has gone by; false then. Thrown errors end it at once.
bool rename_new_dlls(std::string folder);

}  // namespace kestrun
