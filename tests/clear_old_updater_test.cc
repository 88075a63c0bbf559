#include "starter/clear_old_updater.h"

#include <gtest/gtest.h>
