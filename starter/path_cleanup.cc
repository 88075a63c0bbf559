#include "starter/path_cleanup.h"
