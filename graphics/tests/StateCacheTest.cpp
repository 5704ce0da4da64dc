// The GL state caches, program, buffer and framebuffer tables and the standard shader's uniform
// caches, counted against a recording GL table.
#include <gtest/gtest.h>
#include <pthread.h>

#include <system_error>

#include "graphics/Context.h"
#include "graphics/DecompressionQueue.h"
#include "graphics/DecompressionThread.h"
#include "graphics/Framebuffer.h"
#include "graphics/ShaderCompiler.h"
#include "graphics/ShaderProgram.h"
#include "graphics/StandardShader.h"
#include "graphics/tests/FakeGl.h"

using Graphics::Context;
using gfx_test::FakeGl;

namespace {

struct CacheTest : ::testing::Test {
    FakeGl gl;
    Context ctx{1 << 20, boost::none, Context::Workers{1, false}};
    CacheTest() { gl.clear(); }
};

}  // namespace

TEST_F(CacheTest, RepeatedStateChangesMakeOneCall) {
    ctx.setBlendFunc(GL_SRC_ALPHA, GL_ONE);
    ctx.setBlendFunc(GL_SRC_ALPHA, GL_ONE);
    EXPECT_EQ(gl.count("blendFunc"), 1);
    ctx.restoreBlendFunc();
    ctx.restoreBlendFunc();
    EXPECT_EQ(gl.count("blendFunc"), 2);

    // Blending starts recorded as on.
    ctx.setBlend(true);
    EXPECT_EQ(gl.count("enable"), 0);
    ctx.setBlend(false);
    ctx.setBlend(false);
    EXPECT_EQ(gl.count("disable"), 1);

    ctx.useProgram(7);
    ctx.useProgram(7);
    EXPECT_EQ(gl.count("useProgram"), 1);

    ctx.bindBuffer(GL_ARRAY_BUFFER, 3);
    ctx.bindBuffer(GL_ARRAY_BUFFER, 3);
    ctx.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, 3);
    ctx.bindBuffer(GL_TEXTURE_2D, 3);  // not a cached buffer target: ignored
    EXPECT_EQ(gl.count("bindBuffer"), 2);

    ctx.bindFramebuffer(5);
    ctx.bindFramebuffer(5);
    ctx.bindDefaultFramebuffer();
    EXPECT_EQ(gl.count("bindFramebuffer"), 2);
}

TEST_F(CacheTest, VertexAttributeArraysAndPointers) {
    ctx.setEnabledVertexAttribCount(4);
    EXPECT_EQ(gl.count("enableVertexAttribArray"), 4);
    gl.clear();
    ctx.setEnabledVertexAttribCount(2);
    auto disabled = gl.callsOf("disableVertexAttribArray");
    ASSERT_EQ(disabled.size(), 2u);
    EXPECT_EQ(disabled[0].args[0], 2);
    EXPECT_EQ(disabled[1].args[0], 3);
    ctx.setEnabledVertexAttribCount(2);
    EXPECT_EQ(gl.calls().size(), 2u);

    float data[8] = {};
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 16, data);
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 16, data);
    EXPECT_EQ(gl.count("vertexAttribPointer"), 1);
    // The same pointer with another buffer bound is a different state.
    ctx.bindBuffer(GL_ARRAY_BUFFER, 9);
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 16, data);
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 20, data);
    EXPECT_EQ(gl.count("vertexAttribPointer"), 3);
}

TEST_F(CacheTest, TextureUnits) {
    ctx.bindTextureUnit(GL_TEXTURE2, 11);
    EXPECT_EQ(gl.count("activeTexture"), 1);
    EXPECT_EQ(gl.count("bindTexture"), 1);
    ctx.activeTexture(GL_TEXTURE0);
    gl.clear();
    // Unit 2 already holds 11: no call and the active unit stays 0.
    ctx.bindTextureUnit(GL_TEXTURE2, 11);
    EXPECT_TRUE(gl.calls().empty());
    EXPECT_EQ(ctx.activeTextureUnit(), GLenum(GL_TEXTURE0));
    ctx.bindTexture(11);
    EXPECT_EQ(gl.count("bindTexture"), 1);
    // Units past the four cached ones are refused, not written past the cache.
    gl.clear();
    ::testing::internal::CaptureStderr();
    ctx.bindTextureUnit(GL_TEXTURE0 + 7, 3);
    ctx.activeTexture(GL_TEXTURE0 + 4);
    std::string const log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("texture unit 7"), std::string::npos) << log;
    EXPECT_NE(log.find("texture unit 4"), std::string::npos) << log;
    EXPECT_TRUE(gl.calls().empty());
    EXPECT_EQ(ctx.activeTextureUnit(), GLenum(GL_TEXTURE0));
}

TEST_F(CacheTest, ProgramsAreSharedByKeyAndBindAttributesInOrder) {
    std::string const v = "missing.vert", f = "missing.frag", attrs = "vertex,uvcoord", none;
    GLuint const* a = ctx.acquireProgram(1, v, f, attrs, none, none);
    GLuint const* b = ctx.acquireProgram(1, v, f, attrs, none, none);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(gl.count("bindAttribLocation:vertex"), 1);
    auto uv = gl.callsOf("bindAttribLocation:uvcoord");
    ASSERT_EQ(uv.size(), 1u);
    EXPECT_EQ(uv[0].args[1], 1);
    ctx.releaseProgram(1);
    EXPECT_EQ(gl.count("deleteProgram"), 0);
    ctx.releaseProgram(1);
    EXPECT_EQ(gl.count("deleteProgram"), 1);
    EXPECT_EQ(ctx.programCount(), 0u);

    gl.clear();
    GLuint const* other = ctx.acquireProgram(2, v, f, none, none, none);
    EXPECT_EQ(gl.count("bindAttribLocation:vertex"), 0);

    // A deleted program is not left "current": GL may hand its name out again.
    ctx.useProgram(*other);
    ctx.releaseProgram(2);
    EXPECT_EQ(ctx.currentProgram(), 0u);
}

TEST_F(CacheTest, FullTablesRefuseInsteadOfOverrunning) {
    std::string const v = "a.vert", f = "a.frag", none;
    for (uint64_t key = 100; ctx.programCount() < Context::kProgramCapacity; ++key) {
        ASSERT_NE(ctx.acquireProgram(key, v, f, none, none, none), nullptr);
    }
    EXPECT_EQ(ctx.acquireProgram(5, v, f, none, none, none), nullptr);
    EXPECT_EQ(ctx.programCount(), Context::kProgramCapacity);

    for (uint64_t key = 0; key < Context::kBufferCapacity; ++key) {
        ASSERT_NE(ctx.acquireBuffer(key, 1, GL_ARRAY_BUFFER, 4, nullptr, GL_STATIC_DRAW), nullptr);
    }
    EXPECT_EQ(ctx.acquireBuffer(9999, 1, GL_ARRAY_BUFFER, 4, nullptr, GL_STATIC_DRAW), nullptr);
    // An existing key is still served.
    EXPECT_NE(ctx.acquireBuffer(3, 1, GL_ARRAY_BUFFER, 4, nullptr, GL_STATIC_DRAW), nullptr);

    std::vector<Graphics::FramebufferSlot*> slots;
    for (uint64_t i = 0; i < Context::kFramebufferCapacity; ++i) {
        slots.push_back(ctx.createFramebuffer(8, 8, TextureOptions(), GL_RGB));
        ASSERT_NE(slots.back(), nullptr);
    }
    EXPECT_EQ(ctx.createFramebuffer(8, 8, TextureOptions(), GL_RGB), nullptr);
    ctx.deleteFramebuffer(slots[3]);
    EXPECT_NE(ctx.createFramebuffer(8, 8, TextureOptions(), GL_RGB), nullptr);
}

TEST_F(CacheTest, TripleBuffersRotateOncePerPass) {
    GLuint const* triple = ctx.acquireBuffer(1, 3, GL_ARRAY_BUFFER, 64, nullptr, GL_DYNAMIC_DRAW);
    GLuint const* single = ctx.acquireBuffer(2, 1, GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    EXPECT_EQ(gl.count("bufferData"), 4);
    GLuint const first = *triple, fixed = *single;
    std::vector<GLuint> seen;
    for (int i = 0; i < 4; ++i) {
        ctx.updateTextures();
        seen.push_back(*triple);
        EXPECT_EQ(*single, fixed);
    }
    EXPECT_NE(seen[0], first);
    EXPECT_NE(seen[1], seen[0]);
    EXPECT_EQ(seen[2], first);
    EXPECT_EQ(seen[3], seen[0]);

    // Releasing clears the cached binding and attribute states that used the buffer.
    ctx.bindBuffer(GL_ARRAY_BUFFER, fixed);
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 0, nullptr);
    ctx.releaseBuffer(2);
    gl.clear();
    ctx.bindBuffer(GL_ARRAY_BUFFER, fixed);
    ctx.vertexAttribPointer(0, 2, GL_FLOAT, false, 0, nullptr);
    EXPECT_EQ(gl.count("bindBuffer"), 1);
    EXPECT_EQ(gl.count("vertexAttribPointer"), 1);
}

TEST_F(CacheTest, FramebuffersRoundUpUnlessExact) {
    Graphics::Framebuffer rounded(&ctx, 600, 1000, TextureOptions(1, 1, 0, 0), GL_RGB, false);
    EXPECT_EQ(rounded.width(), 1024u);
    EXPECT_EQ(rounded.height(), 1024u);
    auto images = gl.callsOf("texImage2D");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].args[1], 1024);
    EXPECT_EQ(images[0].args[2], 1024);
    Graphics::Framebuffer exact(&ctx, 600, 1000, TextureOptions(), GL_RGB, true);
    EXPECT_EQ(exact.width(), 600u);
    EXPECT_EQ(Graphics::Framebuffer::allocatedSide(1024, false), 1024u);
    EXPECT_EQ(Graphics::Framebuffer::allocatedSide(1025, false), 2048u);
    // Creating a framebuffer leaves the default one bound.
    EXPECT_EQ(ctx.currentFramebuffer(), ctx.defaultFramebuffer());
}

TEST_F(CacheTest, ShaderFailuresAreCaughtAndLeaveNoProgram) {
    FakeGl::setCompileOk(false);
    auto failed = Graphics::compileProgram("v", "f", "vertex", "", "", "test");
    EXPECT_EQ(failed.program, 0u);
    EXPECT_EQ(gl.count("createProgram"), 0);
    EXPECT_EQ(gl.count("deleteShader"), 2);

    FakeGl::setCompileOk(true);
    FakeGl::setLinkOk(false);
    gl.clear();
    auto unlinked = Graphics::compileProgram("v", "f", "vertex", "", "", "test");
    EXPECT_EQ(unlinked.program, 0u);
    EXPECT_EQ(gl.count("deleteProgram"), 1);

    FakeGl::setLinkOk(true);
    auto linked = Graphics::compileProgram("v", "f", "vertex", "", "", "test");
    EXPECT_NE(linked.program, 0u);
    EXPECT_EQ(linked.referenceCount, 1u);
}

TEST_F(CacheTest, IdenticalShaderDescriptionsShareOneProgram) {
    std::string const v = "s.vert", f = "s.frag", attrs = "vertex", none, colour = "#define COLOR\n";
    {
        Graphics::ShaderProgram a(&ctx, {v, f, attrs, none, none});
        Graphics::ShaderProgram c(&ctx, {v, f, attrs, none, colour});
        EXPECT_NE(a.key(), c.key());
        EXPECT_NE(a.glName(), c.glName());
        GLuint const shared = a.glName();
        {
            Graphics::ShaderProgram b(&ctx, {v, f, attrs, none, none});
            EXPECT_EQ(b.glName(), shared);
        }
        EXPECT_EQ(gl.count("deleteProgram"), 0);
        Graphics::ShaderProgram moved(std::move(a));
        EXPECT_EQ(moved.glName(), shared);
    }
    EXPECT_EQ(gl.count("deleteProgram"), 2);
}

TEST_F(CacheTest, StandardShaderUniformCachesAndModes) {
    Graphics::StandardShader shader(&ctx);
    gl.clear();

    // The caches start at zero, which is also GL's default: nothing to send.
    shader.setPVM(glm::mat4(0.0f));
    shader.setColor(glm::vec4(0.0f));
    shader.setAmbientColor(glm::vec4(0.0f));
    EXPECT_TRUE(gl.calls().empty());

    shader.use(Graphics::StandardShader::kColor);
    shader.setColor(glm::vec4(1, 0, 0, 1));
    shader.setColor(glm::vec4(1, 0, 0, 1));
    EXPECT_EQ(gl.count("uniform4f"), 1);
    EXPECT_EQ(shader.color(), glm::vec4(1, 0, 0, 1));
    shader.setPVM(glm::mat4(1.0f));
    shader.setPVM(glm::mat4(1.0f));
    EXPECT_EQ(gl.count("uniformMatrix4fv"), 1);
    // Each variant keeps its own cache.
    shader.use(Graphics::StandardShader::kTextured);
    shader.setPVM(glm::mat4(1.0f));
    EXPECT_EQ(gl.count("uniformMatrix4fv"), 2);
    // No colour uniform in mode 0: nothing sent.
    shader.setColor(glm::vec4(0, 1, 0, 1));
    EXPECT_EQ(gl.count("uniform4f"), 1);

    ctx.bindTextureUnit(GL_TEXTURE1, 42);
    shader.use(Graphics::StandardShader::kMask);
    EXPECT_EQ(ctx.enabledVertexAttribCount(), 3u);
    EXPECT_EQ(ctx.boundTexture(1), 42u);
    GLuint const maskProgram = ctx.currentProgram();
    gl.clear();
    shader.use(6);
    EXPECT_EQ(ctx.currentProgram(), maskProgram);
    EXPECT_TRUE(gl.calls().empty());

    shader.use(Graphics::StandardShader::kAmbient);
    EXPECT_EQ(ctx.enabledVertexAttribCount(), 2u);
    EXPECT_EQ(ctx.boundTexture(1), 0u);
    auto disabled = gl.callsOf("disableVertexAttribArray");
    ASSERT_EQ(disabled.size(), 1u);
    EXPECT_EQ(disabled[0].args[0], 2);
}

TEST(DecodePoolTest, WorkerCountAndThreadNames) {
    EXPECT_EQ(Graphics::DecompressionQueue::workerCountFor(0), 1u);
    EXPECT_EQ(Graphics::DecompressionQueue::workerCountFor(3), 3u);
    EXPECT_EQ(Graphics::DecompressionQueue::workerCountFor(20), 16u);
    EXPECT_EQ(Graphics::DecompressionThread::threadName(0), "DecompThread 0");
    EXPECT_LE(Graphics::DecompressionThread::threadName(15).size(), 15u);
}

TEST(DecodePoolTest, WorkersThatCannotStartAreReportedNotFatal) {
    // Every new thread asks for more stack than the address space holds, so none can start.
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t(1) << 62), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    std::string message;
    try {
        Graphics::DecompressionQueue queue(3, false);
    } catch (std::system_error const& e) {
        message = e.what();
    }
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    EXPECT_NE(message.find("thread constructor failed"), std::string::npos) << message;
    // Threads start again afterwards.
    Graphics::DecompressionQueue queue(1, false);
}
