// Rotation of the Java runtime folders kept in JVM beside the installation:
// "x.old" runtimes are deleted, "x.new" runtimes replace "x".
#pragma once

#include <string>

namespace kestrun {

// One rotation pass over folder + "\..\JVM". True when every new runtime
// took its place. Listing and status errors are thrown.
bool rotate_jvm_folders(std::string folder);

// rotate_jvm_folders, retried for up to a minute until a pass succeeds.
bool rename_new_jvms(std::string folder);

}  // namespace kestrun
