#include "starter/replace_updater.h"
