// Removal of the old updater's files on "--clearOldUpdater".
#pragma once

#include <string>

namespace kestrun {

// The obsolete files, in the order each pass treats them.
inline constexpr const char* obsolete_files[] = {
    "QuorvelAktualisierung.exe",
    "QuorvelAktualisierungUnbeaufsichtigt.exe",
    "Temp.jar",
    "Updater.jar",
    "UpdaterImpl.jar",
    "UpdaterImplNew.jar",
    "Updater.lock",
};

// Deletes the obsolete files in directory, passing over the list again while
// any could not be deleted, for up to a minute. Status errors are thrown.
void clear_old_updater(std::string directory);

}  // namespace kestrun
