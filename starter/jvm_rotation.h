// Rotation of the Java runtime folders kept in JVM beside the installation,
// one level of group folders down: a runtime folder "x.old" is deleted with
// everything in it, a runtime folder "x.new" replaces the folder "x" next to
// it. Suffixes are compared byte for byte.
#pragma once

#include <string>

namespace kestrun {

// One rotation pass over folder + "\..\JVM". Every entry of that root is a
// group folder; the runtime folders are the entries of a group that are
// folders (links followed). A runtime is only deleted, and a new runtime
// only installed, when its path (for a new one: the path cut off before
// ".new") names, as Windows resolves it, a folder directly inside the group:
// ".new", "..new" or " .new" would otherwise name the group or the JVM root
// and take every runtime with it. Such folders are left alone with a log
// line. True when every new
// runtime took its place; an old runtime that stays does not count. Errors
// of listing a folder or reading a status are thrown as
// std::filesystem::filesystem_error.
bool rotate_jvm_folders(std::string folder);

// rotate_jvm_folders, repeated once a second until a pass succeeds or a
// minute has gone by; false then. Thrown errors end it at once.
bool rename_new_jvms(std::string folder);

}  // namespace kestrun
