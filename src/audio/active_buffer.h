#pragma once

#include "audio/link.h"
#include "foundation/threads.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace audio {

// Decouples capture from encoding and file output: blocks pushed in (on the capture thread) are
// queued, and the buffer's own writer thread pushes them, in order, through output() into the
// file writer. Guards memory: once more than 10000000 bytes are queued, or free physical
// memory is known to be below 1000000 bytes when a block arrives, the buffer turns invalid and
// drops everything until reset().
//
// The writer thread is woken once kWakeBlocks blocks wait, not for every block (a killed
// program loses at most one block more), and otherwise looks at the queue every
// kIdleMilliseconds: a recording costs it a few wake-ups a second, not one per block.
// drain() wakes it at once and for every block after, until reset(): the end of a recording
// reaches the file without delay. While no block waits, the writer thread pushes an empty block
// every kIdleMilliseconds, so that the file writer can write out what it holds back even when
// capture pauses (the voice-operated switch leaves silence out); with nothing connected to the
// output it sleeps until a block comes.
//
// Threads: on_data() on the capture thread; the writer thread pushes with the lock released,
// so capture never waits for encoding; has_pending(), is_valid(), queued_bytes() and reset()
// from the user-interface thread. All state is under the inlet lock.
class ActiveBuffer : public Inlet {
public:
    // Free physical memory in bytes, empty when unknown; the platform's figure unless a test
    // replaces it. Unknown memory is no reason to stop a recording: the block is taken.
    using MemoryProbe = std::function<std::optional<uint64_t>()>;

    ActiveBuffer();
    ~ActiveBuffer() override;

    Outlet& output() { return m_output; }

    void on_data(const AudioBlock& block) override;
    // Blocks waiting for the writer thread or being delivered by it.
    uint32_t has_pending() const;
    [[nodiscard]] bool is_valid() const;
    int32_t queued_bytes() const;
    // Everything queued goes to the output now, and every later block at once (the end of a
    // recording: wait for has_pending() to fall to 0 afterwards).
    void drain();
    // Valid again, queue emptied, blocks batched again.
    void reset();

    // Test seam; set before blocks flow.
    void set_memory_probe(MemoryProbe probe);

    static constexpr int32_t kMaxQueuedBytes = 10000000;
    static constexpr uint64_t kMinFreeMemory = 1000000;
    static constexpr uint32_t kIdleMilliseconds = 700;
    static constexpr size_t kWakeBlocks = 2;

private:
    class Output : public Outlet {
    public:
        void get_data(AudioBlock& out, int max_bytes) override;
    };
    class Writer : public foundation::Thread {
    public:
        explicit Writer(ActiveBuffer& owner) : m_owner(owner) {}

    protected:
        void run() override;

    private:
        ActiveBuffer& m_owner;
    };

    Output m_output;
    std::deque<AudioBlock> m_queue;
    uint32_t m_count{0};
    bool m_valid{true};
    bool m_draining{false};
    bool m_writer_unlinked{false}; // the writer sleeps without a deadline
    int32_t m_queued_bytes{0};
    foundation::Event m_wake{foundation::Event::Reset::Auto};
    MemoryProbe m_probe;
    Writer m_writer{*this};
};

} // namespace audio
