#include "controller/peak_cache.h"

#include "formats/peak_scan.h"
#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/file_system.h"
#include "platform/system_paths.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace controller {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'V', 'P', 'C'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 56;
constexpr char16_t kSuffix[] = u".peaks";

// What ties an entry to one state of one record.
struct RecordKey {
    platform::FileIdentity identity;
    uint64_t size{0};
    int64_t write_seconds{0};
    uint32_t write_nanoseconds{0};
};

bool key_of(const std::u16string& record, RecordKey& key) {
    const std::string path = foundation::to_utf8(foundation::expand(record));
    int error = 0;
    platform::PathStatus status;
    if (!platform::path_status(path, status, error) || status.directory ||
        !platform::file_identity(path, key.identity, error))
        return false;
    key.size = status.size;
    key.write_seconds = status.write_seconds;
    key.write_nanoseconds = status.write_nanoseconds;
    return true;
}

uint64_t checksum(const uint8_t* data, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ULL; // FNV-1a
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 0x100000001b3ULL;
    return hash;
}

void put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}
uint64_t get(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

std::vector<uint8_t> header_of(const RecordKey& key, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    put(out, kVersion, 4);
    put(out, key.identity.device, 8);
    put(out, key.identity.inode, 8);
    put(out, key.size, 8);
    put(out, uint64_t(key.write_seconds), 8);
    put(out, key.write_nanoseconds, 4);
    put(out, payload.size(), 4);
    put(out, checksum(payload.data(), payload.size()), 8);
    return out;
}

std::u16string hex(uint64_t value) {
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), digits[value & 15]);
        value >>= 4;
    } while (value);
    return out;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

PeakCache::PeakCache() : m_folder(foundation::from_utf8(platform::cache_directory())) {}

PeakCache::PeakCache(std::u16string folder) : m_folder(std::move(folder)) {}

std::u16string PeakCache::entry_for(const std::u16string& record) const {
    RecordKey key;
    if (!key_of(record, key))
        return {};
    return foundation::join(m_folder,
                            hex(key.identity.device) + u"-" + hex(key.identity.inode) + kSuffix);
}

bool PeakCache::load(const std::u16string& record, audio::Peaks& out) const {
    RecordKey key;
    if (!key_of(record, key))
        return false;
    const std::u16string entry = foundation::join(m_folder, hex(key.identity.device) + u"-" +
                                                                hex(key.identity.inode) + kSuffix);
    std::vector<uint8_t> data;
    const foundation::WholeFile read =
        foundation::read_whole_file(entry, kHeaderSize + audio::Peaks::kMaxEncodedSize, data);
    if (read == foundation::WholeFile::CannotOpen)
        return false;
    if (read != foundation::WholeFile::Read)
        data.clear();
    const uint8_t* p = data.data();
    const bool whole = data.size() >= kHeaderSize && std::memcmp(p, kMagic, 4) == 0 &&
                       get(p + 4, 4) == kVersion && get(p + 44, 4) == data.size() - kHeaderSize &&
                       get(p + 48, 8) == checksum(p + kHeaderSize, data.size() - kHeaderSize);
    audio::Peaks peaks;
    if (!whole || !peaks.decode(p + kHeaderSize, data.size() - kHeaderSize)) {
        foundation::log() << "PeakCache::load damaged entry removed\n";
        foundation::delete_file(entry);
        return false;
    }
    const bool current = get(p + 8, 8) == key.identity.device &&
                         get(p + 16, 8) == key.identity.inode && get(p + 24, 8) == key.size &&
                         int64_t(get(p + 32, 8)) == key.write_seconds &&
                         get(p + 40, 4) == key.write_nanoseconds;
    if (!current)
        return false;
    out = std::move(peaks);
    return true;
}

bool PeakCache::store(const std::u16string& record, const audio::Peaks& peaks) const {
    RecordKey key;
    if (!key_of(record, key))
        return false;
    const std::u16string entry = foundation::join(m_folder, hex(key.identity.device) + u"-" +
                                                                hex(key.identity.inode) + kSuffix);
    const std::vector<uint8_t> payload = peaks.encode();
    std::vector<uint8_t> data = header_of(key, payload);
    data.insert(data.end(), payload.begin(), payload.end());
    foundation::create_directory(m_folder);
    const std::u16string part = entry + u".part";
    bool written = false;
    {
        foundation::File file;
        written = file.open(part, foundation::File::WriteNew) &&
                  file.write(data.data(), uint32_t(data.size())) && file.flush();
    }
    if (!written) {
        foundation::delete_file(part);
        return false;
    }
    foundation::delete_file(entry);
    int error = 0;
    if (!platform::rename_path(foundation::to_utf8(foundation::expand(part)),
                               foundation::to_utf8(foundation::expand(entry)), error)) {
        foundation::delete_file(part);
        return false;
    }
    trim();
    return true;
}

void PeakCache::trim() const {
    const std::string folder = foundation::to_utf8(foundation::expand(m_folder));
    std::vector<platform::DirectoryEntry> names;
    if (!platform::list_directory(folder, names))
        return;
    struct Entry {
        std::string path;
        uint64_t size;
        int64_t seconds;
        uint32_t nanoseconds;
    };
    std::vector<Entry> entries;
    uint64_t total = 0;
    for (const auto& name : names) {
        if (name.directory || !ends_with(name.name, ".peaks"))
            continue;
        Entry entry{folder + "/" + name.name, 0, 0, 0};
        platform::PathStatus status;
        int error = 0;
        if (!platform::path_status(entry.path, status, error))
            continue;
        entry.size = status.size;
        entry.seconds = status.write_seconds;
        entry.nanoseconds = status.write_nanoseconds;
        total += entry.size;
        entries.push_back(std::move(entry));
    }
    if (total <= kBound)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.nanoseconds < b.nanoseconds;
    });
    for (const Entry& entry : entries) {
        if (total <= kBound)
            break;
        if (platform::remove_file(entry.path))
            total -= entry.size;
    }
}

bool record_peaks(const std::u16string& record, audio::Peaks& out, const PeakCache& cache,
                  double* duration) {
    if (duration)
        *duration = 0;
    if (cache.load(record, out))
        return true;
    audio::Peaks peaks;
    const formats::PeakScan scan = formats::scan_peaks(record, peaks);
    if (!scan.opened)
        return false;
    if (duration)
        *duration = scan.duration;
    cache.store(record, peaks);
    out = std::move(peaks);
    return true;
}

uint64_t span_frames(const audio::Peaks& peaks, double duration) {
    const double claimed = duration * peaks.rate();
    // Estimates from the bit rate are off by a little; a cut-off record is off by a lot.
    if (claimed > double(peaks.frames()) * 1.02 + peaks.rate())
        return uint64_t(claimed);
    return peaks.frames();
}

} // namespace controller
