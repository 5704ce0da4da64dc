#include <gtest/gtest.h>

#include <cstdlib>

#include "testing/TestPaths.h"

int main(int argc, char** argv) {
    setenv("MESA_GLES_VERSION_OVERRIDE", "2.0", 0);
    // A copy of a test started for one short trial draws nothing, and the driver took most of its time.
    if (!std::getenv("ZELV_TEST_TRIAL")) testing_support::pinGlDriver();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
