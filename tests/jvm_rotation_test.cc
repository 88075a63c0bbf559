#include "starter/jvm_rotation.h"

#include <gtest/gtest.h>
