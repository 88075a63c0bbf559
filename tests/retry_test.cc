#include "runtime/retry.h"

#include <gtest/gtest.h>
