#include "controller/waveform_loader.h"

#include "formats/peak_scan.h"
#include "foundation/log.h"
#include "platform/thread_priority.h"

namespace controller {

class WaveformLoader::Worker : public foundation::Thread {
public:
    Worker(WaveformLoader& owner, std::u16string path, uint64_t ticket)
        : m_owner(owner), m_path(std::move(path)), m_ticket(ticket) {
        if (!start())
            foundation::log() << "WaveformLoader: no thread to read the waveform\n";
    }
    ~Worker() override {
        m_cancel.store(true);
        request_stop();
        join();
    }

protected:
    void run() override {
        platform::set_current_thread_name("qv-waveform");
        PeakCache cache;
        audio::Peaks peaks;
        if (cache.load(m_path, peaks)) {
            publish(peaks, true);
            return;
        }
        const formats::PeakScan scan = formats::scan_peaks(
            m_path, peaks, &m_cancel, [this](const audio::Peaks& now) { publish(now, false); });
        if (scan.cancelled)
            return;
        if (scan.opened)
            cache.store(m_path, peaks);
        publish(peaks, true);
    }

private:
    void publish(const audio::Peaks& peaks, bool done) {
        std::lock_guard guard(m_owner.m_lock);
        if (m_owner.m_ticket != m_ticket)
            return;
        m_owner.m_peaks = peaks;
        m_owner.m_done = done;
        ++m_owner.m_version;
    }

    WaveformLoader& m_owner;
    std::u16string m_path;
    uint64_t m_ticket;
    std::atomic<bool> m_cancel{false};
};

WaveformLoader::WaveformLoader() = default;

WaveformLoader::~WaveformLoader() {
    close();
}

void WaveformLoader::open(const std::u16string& path) {
    if (path != m_path) {
        close();
    } else {
        // The same record again (it may have changed on disk): the waveform shown stays until
        // the new one is published.
        {
            std::lock_guard guard(m_lock);
            ++m_ticket;
        }
        m_worker.reset();
    }
    m_path = path;
    uint64_t ticket;
    {
        std::lock_guard guard(m_lock);
        ticket = ++m_ticket;
        m_done = false;
    }
    m_worker = std::make_unique<Worker>(*this, path, ticket);
}

void WaveformLoader::close() {
    {
        std::lock_guard guard(m_lock);
        ++m_ticket;
        m_peaks = audio::Peaks{};
        m_done = true;
        ++m_version;
    }
    // Joined outside the lock: the worker may be waiting for it to publish.
    m_worker.reset();
    m_path.clear();
}

uint64_t WaveformLoader::version() const {
    std::lock_guard guard(m_lock);
    return m_version;
}

bool WaveformLoader::done() const {
    std::lock_guard guard(m_lock);
    return m_done;
}

std::vector<audio::PeakColumn> WaveformLoader::columns(int width, double duration) const {
    std::lock_guard guard(m_lock);
    if (m_peaks.empty())
        return {};
    // While it is being made the record's duration spans the width; once done, a waveform that
    // ends early (a damaged record) keeps to the part that was read.
    const uint64_t span = m_done ? span_frames(m_peaks, duration)
                                 : uint64_t(std::max(0.0, duration) * m_peaks.rate());
    return m_peaks.columns(width, std::max(span, m_peaks.frames()));
}

} // namespace controller
