#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "audio/OpusDecoder.h"
#include "audio/tests/LoopbackDevice.h"

namespace {

std::vector<uint8_t> read(std::string const& name) {
    std::ifstream in(audio_test::dataPath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Audio::OpusDecoder::Result decode(std::vector<uint8_t> const& bytes) {
    return Audio::OpusDecoder::decode(bytes.data(), bytes.size());
}

TEST(OpusDecoder, DecodesMonoAndStereoToTheirFullLength) {
    auto mono = decode(read("tone_mono.opus"));
    ASSERT_TRUE(mono.ok) << mono.error;
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.frames(), 24000u);  // 0.5 s at 48 kHz
    int peak = 0;
    for (int16_t v : mono.samples) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 12000);
    EXPECT_LT(peak, 20000);

    auto stereo = decode(read("tone_stereo.opus"));
    ASSERT_TRUE(stereo.ok) << stereo.error;
    EXPECT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.frames(), 14400u);
    EXPECT_EQ(stereo.samples.size(), 28800u);
}

TEST(OpusDecoder, BadStreamsFailWithoutHangingOrKeepWhatTheyHold) {
    EXPECT_FALSE(decode({}).ok);
    EXPECT_FALSE(Audio::OpusDecoder::decode(nullptr, 10).ok);
    auto three = decode(read("tone_three.opus"));
    EXPECT_FALSE(three.ok);
    EXPECT_NE(three.error.find("channel"), std::string::npos);
    auto chained = decode(read("chained_mono_stereo.opus"));  // mono, then a stereo link
    EXPECT_FALSE(chained.ok);
    EXPECT_NE(chained.error.find("channel"), std::string::npos);
    EXPECT_FALSE(decode(read("random.bin")).ok);

    // Cut anywhere, a stream either fails or yields at most its whole length.
    auto whole = read("tone_mono.opus");
    for (size_t cut = 0; cut < whole.size(); cut += 97) {
        auto part = Audio::OpusDecoder::decode(whole.data(), cut);
        if (part.ok) {
            EXPECT_LE(part.frames(), 24000u) << cut;
        }
    }
    // A last page that announces far more samples than the stream holds.
    auto forged = decode(read("forged_length.opus"));
    if (forged.ok) {
        EXPECT_LT(forged.frames(), 48000u);
    }
    // A timeline that jumps ten seconds ahead halfway: the decoder runs dry long before the
    // announced length, and what it gave is kept.
    auto gap = decode(read("timeline_gap.opus"));
    ASSERT_TRUE(gap.ok) << gap.error;
    EXPECT_EQ(gap.frames(), 24000u);
}

}  // namespace
