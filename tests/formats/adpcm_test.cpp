#include "formats/adpcm_codec.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace formats;

TEST(AdpcmCodec, PredictorIndexSevenAndAboveYieldNothing) {
    std::vector<uint8_t> block(256, 0);
    std::vector<int16_t> out(1000);
    block[1] = 16;
    EXPECT_EQ(adpcm::decode_block(block.data(), block.size(), 1, 500, out.data()), 500);
    for (uint8_t index : {7, 8, 255}) {
        block[0] = index;
        EXPECT_EQ(adpcm::decode_block(block.data(), block.size(), 1, 500, out.data()), 0);
    }
    // Stereo: either channel's index counts.
    std::vector<uint8_t> stereo(512, 0);
    stereo[1] = 7;
    EXPECT_EQ(adpcm::decode_block(stereo.data(), stereo.size(), 2, 500, out.data()), 0);
    // A block shorter than its header yields nothing either.
    EXPECT_EQ(adpcm::decode_block(block.data(), 6, 1, 500, out.data()), 0);
}

// Found by fuzzing: a block that opens with the largest step and keeps coding the largest
// negative difference grows the step by 3x per sample; it must saturate, not overflow.
TEST(AdpcmCodec, HostileStepGrowthSaturates) {
    for (int channels : {1, 2}) {
        std::vector<uint8_t> block(size_t(256 * channels), 0x88);
        uint8_t* p = block.data();
        for (int ch = 0; ch < channels; ++ch)
            *p++ = 0; // predictor 0: coefficients 256, 0
        for (int ch = 0; ch < channels; ++ch, p += 2) {
            p[0] = 0xFF; // step 32767
            p[1] = 0x7F;
        }
        for (int ch = 0; ch < 2 * channels; ++ch, p += 2) {
            p[0] = 0x00; // first samples -32768
            p[1] = 0x80;
        }
        int frames = adpcm::samples_per_block(int(block.size()), channels);
        std::vector<int16_t> out(size_t(frames * channels));
        ASSERT_EQ(adpcm::decode_block(block.data(), block.size(), channels, frames, out.data()),
                  frames);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], -32768) << "channels " << channels << " sample " << i;
    }
}
