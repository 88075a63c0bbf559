#include "starter/clear_old_updater.h"
