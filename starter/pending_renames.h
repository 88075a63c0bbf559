// Pending renames in the installation folder: "x.rename-to-jar" takes the
// place of "x.jar", "x.new.dll" the place of "x.dll".
#pragma once

#include <string>

namespace kestrun {

// One pass over folder for pending jars. True when every pending entry was
// renamed without a failed delete or rename (or there was none).
bool rename_pending_jars(std::string folder);

// One pass over folder for pending DLLs, as rename_pending_jars.
bool rename_pending_dlls(std::string folder);

// rename_pending_dlls, retried for up to a minute until a pass succeeds.
bool rename_new_dlls(std::string folder);

}  // namespace kestrun
