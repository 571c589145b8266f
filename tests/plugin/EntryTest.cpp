#include "plugin/SAMIContainer.h"

#include <gtest/gtest.h>

TEST(PluginEntry, Placeholder) { SUCCEED(); }
