#include <gtest/gtest.h>

#include <cstring>

#include "testing/GlTestContext.h"

using testing_support::GlTestContext;
using testing_support::rgba;

TEST(GlTestContext, IsGlEs2AndReadsBackAClear) {
    GlTestContext gl(64, 32);
    ASSERT_TRUE(gl.ok());
    char const* version = reinterpret_cast<char const*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::strncmp(version, "OpenGL ES 2.0", 13), 0) << version;
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(gl.pixel(10, 10), rgba(255, 0, 0));
    EXPECT_EQ(gl.readPixels().size(), 64u * 32u * 4u);
}
