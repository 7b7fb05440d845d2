#include "audio/active_buffer.h"
#include "support/audio_data.h"
#include "support/watchdog.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

using audio::ActiveBuffer;
using audio::AudioBlock;

AudioBlock numbered(uint32_t number, size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    for (size_t i = 0; i < 4 && i < size; ++i)
        bytes[i] = uint8_t(number >> (8 * i));
    return testing_support::byte_block(bytes.data(), bytes.size(), 1, 16, 44100);
}

// Records the numbers of the blocks it gets; can be held closed to let the queue grow.
class SlowSink : public audio::Inlet {
public:
    void on_data(const AudioBlock& block) override {
        if (block.empty()) {
            ++idle_pushes;
            return;
        }
        std::unique_lock gate_lock(gate_mutex);
        gate_changed.wait(gate_lock, [this] { return open; });
        const uint8_t* b = block.bytes.data();
        numbers.push_back(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                          uint32_t(b[3]) << 24);
    }
    void set_open(bool value) {
        {
            std::lock_guard guard(gate_mutex);
            open = value;
        }
        gate_changed.notify_all();
    }
    std::vector<uint32_t> numbers; // under the inlet's lock
    int idle_pushes{0};            // under the inlet's lock
    std::mutex gate_mutex;
    std::condition_variable gate_changed;
    bool open = true;
};

class ActiveBufferQueue : public ::testing::Test {
protected:
    ActiveBufferQueue() {
        buffer.set_memory_probe([] { return uint64_t(1) << 30; });
        audio::connect(buffer.output(), &sink);
    }
    void wait_drained() {
        buffer.drain();
        ASSERT_TRUE(testing_support::wait_for([&] { return !buffer.has_pending(); }));
    }
    testing_support::Watchdog watchdog{30};
    SlowSink sink;
    ActiveBuffer buffer;
};

TEST_F(ActiveBufferQueue, LowMemoryRefusesTheFirstBlockAndUnknownMemoryKeepsGoing) {
    buffer.set_memory_probe([] { return uint64_t(999999); });
    buffer.on_data(numbered(1, 100));
    EXPECT_FALSE(buffer.is_valid());
    EXPECT_EQ(buffer.has_pending(), 0u);
    EXPECT_EQ(buffer.queued_bytes(), 0);
    // Exactly the limit is enough; a figure nobody can read does not stop a recording.
    buffer.set_memory_probe([] { return uint64_t(1000000); });
    buffer.reset();
    buffer.on_data(numbered(2, 100));
    EXPECT_TRUE(buffer.is_valid());
    buffer.set_memory_probe([] { return std::optional<uint64_t>(); });
    for (uint32_t i = 3; i < 6; ++i)
        buffer.on_data(numbered(i, 100));
    EXPECT_TRUE(buffer.is_valid());
    wait_drained();
    std::lock_guard guard(sink.lock());
    EXPECT_EQ(sink.numbers, (std::vector<uint32_t>{2, 3, 4, 5}));
}

TEST_F(ActiveBufferQueue, QueueLimitAcceptsOneBlockPastTenMillionBytes) {
    sink.set_open(false);
    // The writer thread holds the first block at the closed sink; the rest stay queued.
    buffer.on_data(numbered(0, 100));
    ASSERT_TRUE(testing_support::wait_for([&] { return buffer.queued_bytes() == 0; }));
    for (uint32_t i = 1; i <= 10; ++i)
        buffer.on_data(numbered(i, 1000000));
    EXPECT_EQ(buffer.queued_bytes(), 10000000);
    EXPECT_TRUE(buffer.is_valid());
    buffer.on_data(numbered(11, 1000));
    EXPECT_TRUE(buffer.is_valid());
    EXPECT_EQ(buffer.queued_bytes(), 10001000);
    buffer.on_data(numbered(12, 1));
    EXPECT_FALSE(buffer.is_valid());
    EXPECT_EQ(buffer.queued_bytes(), 10001000);
    // Invalid: later data is dropped.
    buffer.on_data(numbered(13, 1));
    EXPECT_EQ(buffer.has_pending(), 12u); // eleven queued, one being delivered

    buffer.reset();
    EXPECT_TRUE(buffer.is_valid());
    EXPECT_EQ(buffer.queued_bytes(), 0);
    sink.set_open(true);
    wait_drained();
    buffer.on_data(numbered(14, 10));
    wait_drained();
    std::lock_guard guard(sink.lock());
    EXPECT_EQ(sink.numbers, (std::vector<uint32_t>{0, 14}));
}

TEST_F(ActiveBufferQueue, DeliversEveryBlockInOrderOnItsThreadTooFewToWakeItToo) {
    // A stop: fewer blocks than wake the writer, the drain, and a last block after it.
    const uint32_t few = ActiveBuffer::kWakeBlocks - 1;
    for (uint32_t i = 0; i < few; ++i)
        buffer.on_data(numbered(i, 64));
    buffer.drain();
    buffer.on_data(numbered(few, 64));
    ASSERT_TRUE(testing_support::wait_for([&] { return !buffer.has_pending(); }));
    for (uint32_t i = few + 1; i <= few + 2000; ++i) {
        std::lock_guard guard(buffer.lock());
        buffer.on_data(numbered(i, 64));
    }
    wait_drained();
    std::lock_guard guard(sink.lock());
    ASSERT_EQ(sink.numbers.size(), few + 2001);
    for (uint32_t i = 0; i < sink.numbers.size(); ++i)
        ASSERT_EQ(sink.numbers[i], i);
    EXPECT_EQ(buffer.queued_bytes(), 0);
}

TEST_F(ActiveBufferQueue, IdleWriterThreadLetsTheWriterCatchUp) {
    buffer.on_data(numbered(7, 64));
    // While nothing is queued, empty blocks come a few times a second; no data is invented.
    ASSERT_TRUE(testing_support::wait_for([&] {
        std::lock_guard guard(sink.lock());
        return sink.idle_pushes >= 2;
    }));
    EXPECT_EQ(buffer.has_pending(), 0u);
    std::lock_guard guard(sink.lock());
    EXPECT_EQ(sink.numbers, (std::vector<uint32_t>{7}));
}

} // namespace
