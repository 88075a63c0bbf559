#include "starter/path_cleanup.h"

#include <gtest/gtest.h>
