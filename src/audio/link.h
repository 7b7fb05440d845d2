#pragma once

// Stages of the audio graph are joined one to one: an Outlet (upstream end) to an Inlet
// (downstream end). A recording is a push chain driven by the capture thread; a playback is a
// pull chain driven by the player's thread.
//
// Every inlet owns a lock through which everything done to its stage passes one call at a
// time; push() and connect() take the lock of the inlet they reach, so a block is never
// delivered into a stage while it is being disconnected. connect() may be called from any
// thread at any time, also while data flows.

#include "audio/audio_block.h"
#include "foundation/threads.h"

namespace audio {

class Outlet;
class Inlet;
void connect(Outlet& out, Inlet* in);
void push(Outlet& out, const AudioBlock& block);

class Inlet {
public:
    Inlet() = default;
    virtual ~Inlet();
    Inlet(const Inlet&) = delete;
    Inlet& operator=(const Inlet&) = delete;

    // A block pushed in; called with this inlet's lock held.
    virtual void on_data(const AudioBlock& block) = 0;

    foundation::CriticalSection& lock() const { return m_lock; }
    Outlet* peer() const;

private:
    friend void connect(Outlet&, Inlet*);
    friend void push(Outlet&, const AudioBlock&);
    friend class Outlet;
    mutable foundation::CriticalSection m_lock;
    Outlet* m_peer{nullptr}; // under m_lock
};

class Outlet {
public:
    Outlet() = default;
    virtual ~Outlet();
    Outlet(const Outlet&) = delete;
    Outlet& operator=(const Outlet&) = delete;

    // Fills `out` with at most about max_bytes of the producer's data; an empty block means
    // nothing more for now.
    virtual void get_data(AudioBlock& out, int max_bytes) = 0;

    Inlet* peer() const;

private:
    friend void connect(Outlet&, Inlet*);
    friend void push(Outlet&, const AudioBlock&);
    friend class Inlet;
    mutable foundation::CriticalSection m_lock;
    Inlet* m_peer{nullptr}; // under m_lock
};

// Joins out to in, first undoing out's previous link; connect(out, nullptr) disconnects.
void connect(Outlet& out, Inlet* in);
// Delivers the block to out's peer under the peer's lock; without a peer the block is dropped.
void push(Outlet& out, const AudioBlock& block);
// Asks in's peer for data; without a peer `out` becomes an empty block with format fields 0.
void pull(Inlet& in, AudioBlock& out, int max_bytes);

// A processing stage: an inlet whose output is its outlet. Pushed blocks are processed and
// pushed on; pulls from the output pull from upstream, process and return. Both run under the
// stage's lock.
class Stage : public Inlet {
public:
    Stage();
    Outlet& output() { return m_output; }

    void on_data(const AudioBlock& in) override;
    virtual void get_data(AudioBlock& out, int max_bytes);

protected:
    // Turns one input block into one output block.
    virtual void process(AudioBlock& out, const AudioBlock& in) = 0;

private:
    class Output : public Outlet {
    public:
        explicit Output(Stage& stage) : m_stage(stage) {}
        void get_data(AudioBlock& out, int max_bytes) override { m_stage.get_data(out, max_bytes); }

    private:
        Stage& m_stage;
    };
    Output m_output;
};

} // namespace audio
