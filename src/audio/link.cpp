#include "audio/link.h"

#include <mutex>

namespace audio {

Outlet* Inlet::peer() const {
    std::lock_guard guard(m_lock);
    return m_peer;
}

Inlet* Outlet::peer() const {
    std::lock_guard guard(m_lock);
    return m_peer;
}

Inlet::~Inlet() {
    // Leave no dangling link behind in the upstream stage.
    Outlet* upstream = peer();
    if (upstream)
        connect(*upstream, nullptr);
}

Outlet::~Outlet() {
    connect(*this, nullptr);
}

void connect(Outlet& out, Inlet* in) {
    // Locks are always taken outlet first, then inlet, as push() does.
    {
        std::lock_guard out_guard(out.m_lock);
        if (Inlet* old = out.m_peer) {
            std::lock_guard guard(old->m_lock);
            old->m_peer = nullptr;
            out.m_peer = nullptr;
        }
    }
    if (!in)
        return;
    Outlet* previous = in->peer();
    if (previous && previous != &out)
        connect(*previous, nullptr);
    std::lock_guard out_guard(out.m_lock);
    std::lock_guard guard(in->m_lock);
    in->m_peer = &out;
    out.m_peer = in;
}

void push(Outlet& out, const AudioBlock& block) {
    std::unique_lock out_guard(out.m_lock);
    Inlet* in = out.m_peer;
    if (!in)
        return;
    std::lock_guard guard(in->m_lock);
    // Holding the inlet's lock keeps the link stable; the outlet's lock is not needed for the
    // delivery itself and is released so that a connect() from another thread is not held up
    // longer than the inlet's own work.
    out_guard.unlock();
    if (in->m_peer == &out)
        in->on_data(block);
}

void pull(Inlet& in, AudioBlock& out, int max_bytes) {
    Outlet* upstream = in.peer();
    if (!upstream) {
        out = AudioBlock{};
        return;
    }
    upstream->get_data(out, max_bytes);
}

Stage::Stage() : m_output(*this) {}

void Stage::on_data(const AudioBlock& in) {
    std::lock_guard guard(lock());
    AudioBlock out;
    process(out, in);
    push(m_output, out);
}

void Stage::get_data(AudioBlock& out, int max_bytes) {
    std::lock_guard guard(lock());
    AudioBlock in;
    pull(*this, in, max_bytes);
    process(out, in);
}

} // namespace audio
