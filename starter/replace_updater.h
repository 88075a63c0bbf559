// Promotion of the newest copy of an updater file (Updater_Client_2.exe and
// the like) to the plain name (Updater_Client.exe).
#pragma once

#include <string>

namespace kestrun {

// Makes the newest file of the family prefix*suffix in directory the one
// named prefix+suffix. Returns false when there is no such file, the old
// file could not be removed in five attempts one second apart, or the
// rename failed. Listing and status errors are thrown.
bool replace_updater(std::string directory, std::string prefix, std::string suffix);

}  // namespace kestrun
