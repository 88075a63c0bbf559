#include "starter/pending_renames.h"

#include <gtest/gtest.h>
