#include <gtest/gtest.h>

#include <GLES2/gl2.h>

#include <cstring>

#include "platform/Window.h"

TEST(Window, OpensFixedSizeGlEs2WindowAndPresents) {
    platform::Window window;
    ASSERT_TRUE(window.ok()) << window.error();
    EXPECT_EQ(window.width(), 1334);
    EXPECT_EQ(window.height(), 750);
    EXPECT_EQ(window.drawableWidth(), 1334);
    EXPECT_EQ(window.drawableHeight(), 750);
    EXPECT_FLOAT_EQ(window.scale(), 1.0f);
    char const* version = reinterpret_cast<char const*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::strncmp(version, "OpenGL ES 2.", 12), 0) << version;
    GLint depth = -1;
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    EXPECT_EQ(depth, 0);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    window.swap();
}
