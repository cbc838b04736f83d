#include <gtest/gtest.h>

#include "driver/command_line.h"

TEST(Placeholder, Builds) { SUCCEED(); }
