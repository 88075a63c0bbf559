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

// Deletes the obsolete files in directory (each path formed as directory +
// "/" + name, and logged so), silently passing over those that are absent.
// A file that cannot be deleted (held open by another program, or a folder
// with contents) is reported, waited for one second within the pass, and
// tried again in the next pass; passes go on while any failed, and a new
// pass begins only within a minute of the start. Nothing is reported back.
// A status that cannot be read for another reason than absence is thrown as
// a filesystem error.
void clear_old_updater(std::string directory);

}  // namespace kestrun
