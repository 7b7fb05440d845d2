#pragma once

// Waveforms kept between openings: one small file per record in the cache folder
// ($XDG_CACHE_HOME/quillory), named after the record's identity (device and inode) and
// holding the record's size and modification time with a checksum. An entry whose record has
// changed since (appended to, trimmed) or that does not read back whole is never used; it is
// made again and replaces the old one. The folder is kept under kBound bytes by removing the
// entries that were written longest ago.
//
// Any thread; each call stands alone (entries are written to a temporary name and renamed).

#include "audio/peaks.h"

#include <cstdint>
#include <string>

namespace controller {

class PeakCache {
public:
    static constexpr uint64_t kBound = 4 * 1024 * 1024;

    // The program's cache folder.
    PeakCache();
    explicit PeakCache(std::u16string folder);

    // The stored waveform of the record as it is now on disk; false when there is none, it is
    // stale or damaged (a damaged one is removed).
    [[nodiscard]] bool load(const std::u16string& record, audio::Peaks& out) const;
    // Stores the waveform for the record as it is now on disk, then trims the folder to its
    // bound. False when the record or the folder cannot be used.
    bool store(const std::u16string& record, const audio::Peaks& peaks) const;

    // The entry file that belongs to the record (empty when the record cannot be looked up).
    std::u16string entry_for(const std::u16string& record) const;
    const std::u16string& folder() const { return m_folder; }

private:
    void trim() const;
    std::u16string m_folder;
};

// The waveform of a record from the cache, or else made by decoding it, then stored. False
// when the record cannot be read at all. `duration`, when given, receives the record's length
// as its reader tells it when it was decoded (0 from the cache).
[[nodiscard]] bool record_peaks(const std::u16string& record, audio::Peaks& out,
                                const PeakCache& cache, double* duration = nullptr);

// The frames a record's waveform is drawn across: what decoded, unless the record claims
// clearly more (`duration`, seconds, as its reader tells it): then the decoding stopped early
// at damage, and the waveform covers only the part that was read.
uint64_t span_frames(const audio::Peaks& peaks, double duration);

} // namespace controller
