#include "runtime/file_operations.h"

#include <gtest/gtest.h>
