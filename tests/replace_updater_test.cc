#include "starter/replace_updater.h"

#include <gtest/gtest.h>
