#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/TestPaths.h"

int main(int argc, char** argv) {
    setenv("MESA_GLES_VERSION_OVERRIDE", "2.0", 0);
    testing_support::pinGlDriver();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
