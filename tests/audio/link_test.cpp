#include "audio/link.h"
#include "support/audio_data.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using audio::AudioBlock;

AudioBlock block_of(std::vector<uint8_t> bytes, int channels = 1, int bits = 16, int rate = 8000) {
    return testing_support::byte_block(bytes.data(), bytes.size(), channels, bits, rate);
}

class Sink : public audio::Inlet {
public:
    void on_data(const AudioBlock& block) override { received.push_back(block); }
    std::vector<AudioBlock> received;
};

class Source : public audio::Outlet {
public:
    void get_data(AudioBlock& out, int max_bytes) override {
        out = block_of(std::vector<uint8_t>(size_t(max_bytes), 7));
        ++calls;
    }
    int calls = 0;
};

// Adds one to every byte; writes through the slice so copy-on-write is exercised.
class AddOne : public audio::Stage {
protected:
    void process(AudioBlock& out, const AudioBlock& in) override {
        out = in;
        uint8_t* bytes = out.bytes.writable_data();
        for (size_t i = 0; i < out.size(); ++i)
            bytes[i] = uint8_t(bytes[i] + 1);
    }
};

TEST(Link, StagePushesProcessedBlocksLeavingTheInputIntactAndPullsFromUpstream) {
    Source source;
    AddOne stage;
    Sink sink;
    audio::connect(source, &stage);
    audio::connect(stage.output(), &sink);
    AudioBlock in = block_of({1, 2, 3});
    audio::push(source, in);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].bytes.data()[2], 4);
    EXPECT_EQ(in.bytes.data()[2], 3);
    EXPECT_EQ(sink.received[0].sample_rate, 8000);

    AudioBlock out;
    audio::pull(sink, out, 5);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out.bytes.data()[0], 8);
    EXPECT_EQ(source.calls, 1);
}

} // namespace
