// The texture table and the texture pass against a recording GL table, with real decoding on
// the worker threads.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "graphics/Context.h"
#include "graphics/tests/FakeGl.h"
#include "graphics/tests/TestImages.h"
#include "testing/TestPaths.h"

using Graphics::Context;
using Graphics::TextureEntry;
using gfx_test::FakeGl;

namespace {

constexpr uint8_t kSliced = Graphics::kLoadSliced;

struct PassTest : ::testing::Test {
    FakeGl gl;
    testing_support::TempDir dir;

    std::string image(std::string const& name, gfx_test::Bytes const& bytes) {
        return gfx_test::writeFile(dir / name, bytes);
    }

    static TextureDescriptor desc(std::string const& path, uint8_t flags = 3) {
        return TextureDescriptor(path, TextureOptions(1, 1, 0, 0), flags);
    }

    static TextureEntry* request(Context& ctx, TextureDescriptor const& d) {
        return ctx.requestTexture(Context::hashName(d.path), &d);
    }

    static size_t finishedCount(Context& ctx) {
        std::lock_guard<std::mutex> lock(ctx.decodeQueue().mutex());
        return ctx.decodeQueue().finished().size();
    }

    static void waitFinished(Context& ctx, size_t n) {
        for (int i = 0; i < 5000 && finishedCount(ctx) < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(finishedCount(ctx), n);
    }

    std::vector<uint64_t> queuedOrders(Context& ctx) {
        std::lock_guard<std::mutex> lock(ctx.decodeQueue().mutex());
        std::vector<uint64_t> out;
        for (auto const& job : ctx.decodeQueue().queued()) out.push_back(job.slot->entry.loadOrder);
        return out;
    }
};

}  // namespace

TEST_F(PassTest, RequestAndReleaseByExactHash) {
    Context ctx(1 << 20, boost::none, Context::Workers{1, false});
    auto a = desc(image("a.png", gfx_test::png(4, 4, 4)));
    auto b = desc(image("b.png", gfx_test::png(8, 2, 3)));
    TextureEntry* first = request(ctx, a);
    TextureEntry* again = request(ctx, a);
    TextureEntry* other = request(ctx, b);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_EQ(ctx.findTexture(Context::hashName(a.path))->referenceCount, 2u);
    EXPECT_EQ(first->width, 4);
    EXPECT_EQ(other->width, 8);
    EXPECT_EQ(other->channels, 3);
    EXPECT_EQ(other->byteSize, 48u);
    EXPECT_EQ(first->path, a.path);

    // A hash that is not in the table touches nothing, even one next to a live one.
    ctx.releaseTexture(Context::hashName(a.path) + 1);
    EXPECT_EQ(ctx.findTexture(Context::hashName(a.path))->referenceCount, 2u);
    EXPECT_EQ(ctx.liveTextureCount(), 2u);
    // A copy asks by hash alone and only ever finds an existing entry.
    EXPECT_EQ(ctx.requestTexture(12345, nullptr), nullptr);

    ctx.releaseTexture(Context::hashName(a.path));
    ctx.releaseTexture(Context::hashName(a.path));
    ctx.releaseTexture(Context::hashName(b.path));
    EXPECT_EQ(ctx.liveTextureCount(), 0u);
    EXPECT_EQ(ctx.pendingTextureCount(), 0u);

    // Freed slots are reused for new textures without disturbing live ones.
    std::vector<TextureEntry*> entries;
    for (int i = 0; i < 40; ++i) entries.push_back(request(ctx, desc(dir.path().string() + "/none" + std::to_string(i))));
    for (int i = 0; i < 40; i += 2) ctx.releaseTexture(Context::hashName(entries[size_t(i)]->path));
    for (int i = 1; i < 40; i += 2) {
        auto const* slot = ctx.findTexture(Context::hashName(dir.path().string() + "/none" + std::to_string(i)));
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(&slot->entry, entries[size_t(i)]);
        EXPECT_EQ(slot->entry.path, dir.path().string() + "/none" + std::to_string(i));
    }
}

TEST_F(PassTest, PageTexturesAndLoadOrder) {
    Context ctx(1 << 30, boost::none, Context::Workers{1, false});
    auto grey = request(ctx, desc(image("grey.png", gfx_test::png(1024, 1024, 1))));
    EXPECT_EQ(grey->pageTexture, 0);
    EXPECT_EQ(grey->channels, 1);
    EXPECT_EQ(grey->loadOrder, ~uint64_t(0));

    auto rgb = request(ctx, desc(image("rgb.png", gfx_test::png(1024, 1024, 3)), 0));
    EXPECT_EQ(rgb->pageTexture, 1);
    EXPECT_EQ(rgb->channels, 4);
    EXPECT_EQ(rgb->byteSize, 0x400000u);
    EXPECT_EQ(rgb->loadOrder, 0u);  // the page counter, counting up

    std::string const rgba = image("rgba.png", gfx_test::png(1024, 1024, 4));
    EXPECT_EQ(request(ctx, desc(rgba, 0))->loadOrder, 1u);
    // With bit 1 a page texture is ordered like any other: the ordinary counter counts down.
    std::string const rgba2 = image("rgba2.png", gfx_test::png(1024, 1024, 4));
    EXPECT_EQ(request(ctx, desc(rgba2, 2))->loadOrder, ~uint64_t(0) - 1);
    EXPECT_EQ(ctx.textureRequestCounter(), 2u);
}

TEST_F(PassTest, TableFullRefusesTheNextTexture) {
    Context ctx(1 << 20, boost::none, Context::Workers{1, false});
    TextureDescriptor missing = desc(dir.path().string() + "/missing.png");
    for (uint64_t i = 0; i < Context::kTextureCapacity; ++i) ASSERT_NE(ctx.requestTexture(i * 3, &missing), nullptr);
    EXPECT_EQ(ctx.requestTexture(1, &missing), nullptr);
    EXPECT_EQ(ctx.liveTextureCount(), Context::kTextureCapacity);
    // Existing entries are still found.
    EXPECT_NE(ctx.requestTexture(3, &missing), nullptr);
}

TEST_F(PassTest, DecodesUploadsAndEvictsByImportance) {
    Context ctx(3 * 1024, boost::none, Context::Workers{2, true});
    std::vector<TextureEntry*> e;
    for (int i = 0; i < 3; ++i) {
        e.push_back(request(ctx, desc(image("t" + std::to_string(i) + ".png", gfx_test::png(16, 16, 4)))));
        e.back()->loadOrder = uint64_t(10 + i);
    }
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    for (auto* t : e) EXPECT_EQ(t->resident, 1);
    EXPECT_EQ(ctx.usedTextureBytes(), 3 * 1024u);
    EXPECT_EQ(gl.count("texImage2D"), 3);
    // Each whole upload is followed by the blit draw.
    EXPECT_EQ(gl.count("drawArrays"), 3);

    ctx.setTextureBudget(2 * 1024);
    ctx.updateTextures();
    EXPECT_EQ(e[0]->resident, 0);  // the least important goes first
    EXPECT_EQ(e[0]->glName, 0u);
    EXPECT_EQ(e[1]->resident, 1);
    EXPECT_EQ(e[2]->resident, 1);
    EXPECT_EQ(ctx.pendingTextureCount(), 1u);

    // It does not fit, and nothing left is less important: it stays pending, nothing is evicted.
    ctx.updateTextures();
    EXPECT_EQ(ctx.pendingTextureCount(), 1u);
    EXPECT_EQ(ctx.residentTextureCount(), 2u);
    EXPECT_TRUE(ctx.texturesLoaded());

    // Made the most important, it takes the place of the least important resident one.
    e[0]->loadOrder = 100;
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    EXPECT_EQ(e[0]->resident, 1);
    EXPECT_EQ(e[1]->resident, 0);
    EXPECT_EQ(e[2]->resident, 1);
}

TEST_F(PassTest, SparePagesGoBeforeResidentTextures) {
    Context ctx(0x400000 + 1024, boost::none, Context::Workers{1, true});
    auto small = desc(image("small.png", gfx_test::png(16, 16, 4)));
    auto page = desc(image("page.png", gfx_test::png(1024, 1024, 3)));
    request(ctx, small);
    TextureEntry* p = request(ctx, page);
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    ASSERT_EQ(p->resident, 1);
    GLuint const pageName = p->glName;
    EXPECT_EQ(ctx.pagesInUseCount(), 1u);

    // Released, the page texture's GL texture is kept as a spare and stays counted.
    ctx.releaseTexture(Context::hashName(page.path));
    EXPECT_EQ(ctx.sparePageCount(), 1u);
    EXPECT_EQ(ctx.usedTextureBytes(), 0x400000u + 1024);
    // A new page texture reuses it without creating another.
    gl.clear();
    auto page2 = desc(image("page2.png", gfx_test::png(1024, 1024, 4)));
    TextureEntry* p2 = request(ctx, page2);
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    EXPECT_EQ(p2->glName, pageName);
    EXPECT_EQ(gl.count("genTextures"), 0);
    ctx.releaseTexture(Context::hashName(page2.path));
    ASSERT_EQ(ctx.sparePageCount(), 1u);

    gl.clear();
    ctx.setTextureBudget(1024);
    ctx.updateTextures();
    EXPECT_EQ(ctx.sparePageCount(), 0u);
    auto deleted = gl.callsOf("deleteTextures");
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].args[1], pageName);
    EXPECT_EQ(ctx.residentTextureCount(), 1u);
    EXPECT_EQ(ctx.usedTextureBytes(), 1024u);

    // A page freed when its memory is needed to meet the budget is deleted, not kept.
    ctx.setTextureBudget(1 << 30);
    auto page3 = desc(image("page3.png", gfx_test::png(1024, 1024, 4)));
    TextureEntry* p3 = request(ctx, page3);
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    GLuint const name3 = p3->glName;
    ASSERT_NE(name3, 0u);
    gl.clear();
    ctx.setTextureBudget(0x400000);
    ctx.releaseTexture(Context::hashName(page3.path));
    EXPECT_EQ(ctx.sparePageCount(), 0u);
    deleted = gl.callsOf("deleteTextures");
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].args[1], name3);
    EXPECT_EQ(ctx.usedTextureBytes(), 1024u);
}

TEST_F(PassTest, FullQueueGivesWayToAMoreImportantTexture) {
    Context ctx(1 << 20, boost::none, Context::Workers{1, false});  // capacity 2, nothing taken yet
    std::vector<TextureEntry*> e;
    for (int i = 0; i < 3; ++i) {
        e.push_back(request(ctx, desc(image("q" + std::to_string(i) + ".png", gfx_test::png(8, 8, 4)))));
    }
    e[0]->loadOrder = 10;
    e[1]->loadOrder = 20;
    e[2]->loadOrder = 5;
    ctx.updateTextures();
    EXPECT_EQ(queuedOrders(ctx), (std::vector<uint64_t>{10, 20}));
    EXPECT_FALSE(ctx.texturesLoaded());
    EXPECT_EQ(ctx.pendingTextureCount(), 1u);

    e[2]->loadOrder = 30;
    ctx.updateTextures();
    EXPECT_EQ(queuedOrders(ctx), (std::vector<uint64_t>{20, 30}));
    EXPECT_EQ(ctx.findTexture(Context::hashName(e[0]->path))->referenceCount, 1u);
    EXPECT_EQ(ctx.usedTextureBytes(), 2 * 256u);

    // The one worker takes the most important job first.
    ctx.decodeQueue().startWorkers();
    waitFinished(ctx, 2);
    {
        std::lock_guard<std::mutex> lock(ctx.decodeQueue().mutex());
        EXPECT_EQ(ctx.decodeQueue().finished()[0].slot->entry.loadOrder, 30u);
    }
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    for (auto* t : e) EXPECT_EQ(t->resident, 1);
}

TEST_F(PassTest, SlicedUploadTakesSixtyEightRowsOfAThousandWideImage) {
    Context ctx(1 << 20, boost::none, Context::Workers{1, true});
    TextureEntry* t = request(ctx, desc(image("wide.png", gfx_test::png(1000, 150, 1)), kSliced));
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    auto slices = gl.callsOf("texSubImage2D");
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_EQ(slices[0].args[1], 0);
    EXPECT_EQ(slices[0].args[3], 68);
    EXPECT_EQ(slices[1].args[1], 68);
    EXPECT_EQ(slices[1].args[3], 68);
    EXPECT_EQ(slices[2].args[1], 136);
    EXPECT_EQ(slices[2].args[3], 14);
    // Storage first, without pixels; one channel without bit 0 is GL_ALPHA.
    auto storage = gl.callsOf("texImage2D");
    ASSERT_EQ(storage.size(), 1u);
    EXPECT_EQ(storage[0].args[4], 0);
    EXPECT_EQ(storage[0].args[3], GL_ALPHA);
    EXPECT_EQ(t->resident, 1);
}

TEST_F(PassTest, BurstModeUploadsEverythingInOnePass) {
    Context ctx(1 << 20, boost::none, Context::Workers{2, false});
    TextureEntry* a = request(ctx, desc(image("a.png", gfx_test::png(1000, 150, 4)), kSliced));
    TextureEntry* b = request(ctx, desc(image("b.png", gfx_test::png(300, 300, 3)), kSliced));
    ctx.updateTextures();
    ctx.decodeQueue().startWorkers();
    waitFinished(ctx, 2);
    ctx.setBurstLoading(true);
    ctx.updateTextures();
    EXPECT_EQ(a->resident, 1);
    EXPECT_EQ(b->resident, 1);
    EXPECT_EQ(gl.count("texSubImage2D"), 0);
    EXPECT_EQ(gl.count("texImage2D"), 2);
    ctx.updateTextures();
    EXPECT_TRUE(ctx.texturesLoaded());
}

TEST_F(PassTest, ReleasedTexturesAreDroppedWithoutUpload) {
    Context ctx(1 << 20, boost::none, Context::Workers{1, false});
    auto queued = desc(image("queued.png", gfx_test::png(8, 8, 4)));
    auto finished = desc(image("finished.png", gfx_test::png(8, 8, 4)));
    request(ctx, queued);
    request(ctx, finished)->loadOrder = ~uint64_t(0);
    ctx.updateTextures();
    // Released while its job is queued: the job keeps the entry until the next pass drops it.
    ctx.releaseTexture(Context::hashName(queued.path));
    EXPECT_NE(ctx.findTexture(Context::hashName(queued.path)), nullptr);
    ctx.updateTextures();
    EXPECT_EQ(ctx.findTexture(Context::hashName(queued.path)), nullptr);

    ctx.decodeQueue().startWorkers();
    waitFinished(ctx, 1);
    ctx.releaseTexture(Context::hashName(finished.path));
    ctx.updateTextures();
    EXPECT_EQ(ctx.findTexture(Context::hashName(finished.path)), nullptr);
    EXPECT_EQ(gl.count("texImage2D"), 0);
    EXPECT_EQ(ctx.liveTextureCount(), 0u);
    EXPECT_EQ(ctx.usedTextureBytes(), 0u);
    ctx.updateTextures();
    EXPECT_TRUE(ctx.texturesLoaded());
}

TEST_F(PassTest, BadImagesEndEmptyAndLoaded) {
    Context ctx(1 << 30, boost::none, Context::Workers{2, true});
    // Too large for a decode area: refused at once instead of overrunning it.
    TextureEntry* huge = request(ctx, desc(image("huge.png", gfx_test::png(2048, 1024, 4))));
    EXPECT_EQ(huge->width, 0);
    EXPECT_EQ(huge->byteSize, 0u);
    // A good header over damaged pixel data.
    auto bytes = gfx_test::png(64, 64, 4);
    bytes.resize(bytes.size() / 2);
    TextureEntry* broken = request(ctx, desc(image("broken.png", bytes)));
    EXPECT_EQ(broken->width, 64);
    TextureEntry* missing = request(ctx, desc(dir.path().string() + "/nothing.png"));
    EXPECT_EQ(missing->channels, 3);
    ASSERT_TRUE(gfx_test::loadTextures(ctx));
    EXPECT_EQ(huge->resident, 1);
    EXPECT_EQ(broken->resident, 1);
    EXPECT_EQ(missing->resident, 1);
}

TEST_F(PassTest, DestroyingTheContextStopsBusyWorkers) {
    auto path = image("big.png", gfx_test::png(1024, 1024, 4));
    for (int round = 0; round < 3; ++round) {
        Context ctx(1 << 30, boost::none, Context::Workers{4, true});
        for (int i = 0; i < 6; ++i) {
            TextureDescriptor d(path, TextureOptions(), 2);
            ctx.requestTexture(Context::hashName(path) + uint64_t(i), &d);
        }
        ctx.updateTextures();
    }
}
