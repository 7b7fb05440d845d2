#pragma once

// The waveform of the record on screen, made on a thread of its own so that the screen is
// usable at once: from the waveform cache when it holds the record as it is on disk, else by
// decoding the record (the columns fill in as it goes), then stored in the cache.
//
// Threads: open(), close() and the queries on the user-interface thread; the loading thread
// shares only the waveform and the flags, under the loader's lock.

#include "audio/peaks.h"
#include "controller/peak_cache.h"
#include "foundation/threads.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace controller {

class WaveformLoader {
public:
    WaveformLoader();
    ~WaveformLoader();
    WaveformLoader(const WaveformLoader&) = delete;
    WaveformLoader& operator=(const WaveformLoader&) = delete;

    // Starts making the waveform of the record (a loading one is abandoned).
    void open(const std::u16string& path);
    // Abandons any loading and forgets the waveform.
    void close();
    const std::u16string& path() const { return m_path; }
    // Changes each time the waveform grows or is replaced.
    uint64_t version() const;
    // Done: the whole record was read (or found in the cache), or it cannot be read.
    [[nodiscard]] bool done() const;
    // The waveform in `width` columns across the record's `duration` seconds (0: what was
    // read); fewer while it is being made or when the record breaks off.
    std::vector<audio::PeakColumn> columns(int width, double duration) const;

private:
    class Worker;
    std::u16string m_path;
    std::unique_ptr<Worker> m_worker;
    mutable std::mutex m_lock;
    audio::Peaks m_peaks;  // under m_lock
    uint64_t m_version{0}; // under m_lock
    bool m_done{true};     // under m_lock
    uint64_t m_ticket{0};  // under m_lock: which open() the worker's results belong to
};

} // namespace controller
