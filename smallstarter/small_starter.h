#pragma once

#include "smallstarter/variants.h"

namespace kestrun {

// The whole run of a small starter: log "starting...", start Updater.exe
// with the variant's argument, log "finished". Returns the exit code, which
// is always 0: the code never tells whether the updater was started.
int run_small_starter(const small_starter_variant& variant);

}  // namespace kestrun
