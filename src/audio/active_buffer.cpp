#include "audio/active_buffer.h"

#include "foundation/log.h"
#include "platform/memory.h"
#include "platform/thread_priority.h"

#include <mutex>

namespace audio {

ActiveBuffer::ActiveBuffer() : m_probe([] { return platform::available_physical_memory(); }) {
    // Without its writer thread the buffer takes nothing: the owner sees it invalid.
    if (!m_writer.start())
        m_valid = false;
}

ActiveBuffer::~ActiveBuffer() {
    m_writer.request_stop();
    m_wake.set();
    m_writer.join();
    std::lock_guard guard(lock());
    m_queue.clear();
}

void ActiveBuffer::on_data(const AudioBlock& block) {
    std::lock_guard guard(lock());
    if (!m_valid)
        return;
    if (m_queued_bytes > kMaxQueuedBytes) {
        m_valid = false;
        foundation::log() << "ActiveBuffer::invalid1 size=" << m_queued_bytes << "\n";
        return;
    }
    const std::optional<uint64_t> available = m_probe ? m_probe() : std::nullopt;
    if (available && *available < kMinFreeMemory) {
        m_valid = false;
        foundation::log() << "ActiveBuffer::invalid2 status.dwAvailPhys=" << *available << "\n";
        return;
    }
    m_queue.push_back(block);
    ++m_count;
    m_queued_bytes += int32_t(block.size());
    if (m_draining || m_writer_unlinked || m_queue.size() >= kWakeBlocks)
        m_wake.set();
}

void ActiveBuffer::drain() {
    std::lock_guard guard(lock());
    m_draining = true;
    m_wake.set();
}

uint32_t ActiveBuffer::has_pending() const {
    std::lock_guard guard(lock());
    return m_count;
}

bool ActiveBuffer::is_valid() const {
    std::lock_guard guard(lock());
    return m_valid;
}

int32_t ActiveBuffer::queued_bytes() const {
    std::lock_guard guard(lock());
    return m_queued_bytes;
}

void ActiveBuffer::reset() {
    std::lock_guard guard(lock());
    m_valid = true;
    m_draining = false;
    m_count -= uint32_t(m_queue.size());
    m_queue.clear();
    m_queued_bytes = 0;
}

void ActiveBuffer::set_memory_probe(MemoryProbe probe) {
    std::lock_guard guard(lock());
    m_probe = std::move(probe);
}

void ActiveBuffer::Output::get_data(AudioBlock& out, int) {
    out = AudioBlock{};
}

void ActiveBuffer::Writer::run() {
    platform::set_current_thread_name("qv-writer");
    while (!stop_requested()) {
        AudioBlock block;
        bool taken = false;
        {
            std::lock_guard guard(m_owner.lock());
            if (!m_owner.m_queue.empty()) {
                block = std::move(m_owner.m_queue.front());
                m_owner.m_queue.pop_front();
                m_owner.m_queued_bytes -= int32_t(block.size());
                taken = true;
            }
        }
        if (taken) {
            push(m_owner.m_output, block);
            // Counted until delivered, so that a drained buffer has nothing left in flight.
            std::lock_guard guard(m_owner.lock());
            if (m_owner.m_count > 0)
                --m_owner.m_count;
        } else if (m_owner.m_output.peer() == nullptr) {
            // Nothing to write out to: sleep, with no deadline, until a block (or the end)
            // comes; so the first block must wake it.
            bool sleep;
            {
                std::lock_guard guard(m_owner.lock());
                sleep = m_owner.m_queue.empty();
                m_owner.m_writer_unlinked = sleep;
            }
            if (sleep)
                m_owner.m_wake.wait();
            std::lock_guard guard(m_owner.lock());
            m_owner.m_writer_unlinked = false;
        } else if (!m_owner.m_wake.wait_for_ms(kIdleMilliseconds) && !stop_requested() &&
                   m_owner.has_pending() == 0) {
            // Idle: an empty block lets the writer write out what has waited long enough.
            push(m_owner.m_output, AudioBlock{});
        }
    }
}

} // namespace audio
