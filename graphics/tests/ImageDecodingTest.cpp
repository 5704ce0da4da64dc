// Header reads and decoding over bytes: layouts, scaling, and refusal of what does not fit.
#include <gtest/gtest.h>

#include "graphics/ImageDecoding.h"
#include "graphics/tests/TestImages.h"

using Graphics::ImageInfo;

TEST(ImageDecodingTest, HeaderLayouts) {
    ImageInfo info;
    for (int channels = 1; channels <= 4; ++channels) {
        auto bytes = gfx_test::png(5, 3, channels);
        ASSERT_TRUE(Graphics::readImageInfo(bytes.data(), bytes.size(), info, uint16_t(2)));
        EXPECT_EQ(info.channels, channels);
        EXPECT_EQ(info.width, 5);  // PNG sizes are never divided
        EXPECT_EQ(info.height, 3);
    }
    auto rgb = gfx_test::webp(400, 300, 3);
    ASSERT_TRUE(Graphics::readImageInfo(rgb.data(), rgb.size(), info, boost::none));
    EXPECT_EQ(info.channels, 3);
    EXPECT_EQ(info.width, 400);
    auto rgba = gfx_test::webp(400, 300, 4);
    ASSERT_TRUE(Graphics::readImageInfo(rgba.data(), rgba.size(), info, uint16_t(2)));
    EXPECT_EQ(info.channels, 4);
    EXPECT_EQ(info.width, 200);
    EXPECT_EQ(info.height, 150);
    std::vector<uint8_t> out(200 * 150 * 4);
    EXPECT_TRUE(Graphics::decodeImage(rgba.data(), rgba.size(), 200, 150, 4, out.data(), out.size()));
    ASSERT_TRUE(Graphics::readImageInfo(rgba.data(), rgba.size(), info, uint16_t(0)));
    EXPECT_EQ(info.width, 0);

    uint8_t const junk[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_FALSE(Graphics::readImageInfo(junk, sizeof junk, info, boost::none));
    EXPECT_EQ(info.width, 0);
    EXPECT_EQ(info.channels, 3);
    EXPECT_FALSE(Graphics::readImageInfo(nullptr, 0, info, boost::none));
}

TEST(ImageDecodingTest, RefusesWhatDoesNotFit) {
    std::vector<uint8_t> out(64 * 64 * 4);
    auto png = gfx_test::png(64, 64, 4);
    EXPECT_TRUE(Graphics::decodeImage(png.data(), png.size(), 64, 64, 4, out.data(), out.size()));
    // The area is too small, or the file is not the size the entry was made for.
    EXPECT_FALSE(Graphics::decodeImage(png.data(), png.size(), 64, 64, 4, out.data(), out.size() - 1));
    EXPECT_FALSE(Graphics::decodeImage(png.data(), png.size(), 32, 32, 4, out.data(), out.size()));
    EXPECT_FALSE(Graphics::decodeImage(png.data(), png.size(), 64, 64, 5, out.data(), out.size()));
    auto webp = gfx_test::webp(64, 64, 3);
    EXPECT_FALSE(Graphics::decodeImage(webp.data(), webp.size(), 64, 64, 3, out.data(), 64 * 64 * 3 - 1));
    EXPECT_FALSE(Graphics::decodeImage(webp.data(), webp.size(), 64, 64, 1, out.data(), out.size()));
    auto cut = gfx_test::png(64, 64, 4);
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(Graphics::decodeImage(cut.data(), cut.size(), 64, 64, 4, out.data(), out.size()));
}
