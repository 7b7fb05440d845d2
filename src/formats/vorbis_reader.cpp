#include "formats/vorbis_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tremor/ivorbisfile.h>

namespace formats {

namespace {

constexpr int kMaxRead = 1 << 16;
// Holes (lost pages) are passed over; this many in a row end the stream.
constexpr int kMaxHoles = 64;

size_t read_callback(void* ptr, size_t size, size_t count, void* source) {
    auto* file = static_cast<foundation::File*>(source);
    uint64_t bytes = uint64_t(size) * count;
    if (size == 0 || bytes == 0)
        return 0;
    bytes = std::min<uint64_t>(bytes, 1u << 30);
    return file->read(ptr, uint32_t(bytes)) / size;
}

int seek_callback(void* source, ogg_int64_t offset, int whence) {
    auto* file = static_cast<foundation::File*>(source);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = int64_t(file->tell());
    else if (whence == SEEK_END)
        base = int64_t(file->size());
    int64_t target = base + offset;
    if (target < 0)
        return -1;
    return file->seek(uint64_t(target)) ? 0 : -1;
}

int close_callback(void*) {
    return 0;
}

long tell_callback(void* source) {
    return long(static_cast<foundation::File*>(source)->tell());
}

} // namespace

struct VorbisReader::Stream {
    OggVorbis_File file;
};

VorbisReader::VorbisReader(const std::u16string& path) {
    if (!m_file.open(path, foundation::File::Read))
        return;
    char magic[4];
    if (m_file.read(magic, 4) != 4 || std::memcmp(magic, "OggS", 4) != 0 || !m_file.seek(0))
        return;
    auto stream = std::make_unique<Stream>();
    ov_callbacks callbacks{read_callback, seek_callback, close_callback, tell_callback};
    if (ov_open_callbacks(&m_file, &stream->file, nullptr, 0, callbacks) != 0)
        return;
    m_stream = std::move(stream);
    vorbis_info* info = ov_info(&m_stream->file, -1);
    if (!info || info->channels < 1 || info->rate < 1)
        return;
    m_valid = true;
    m_channels = info->channels;
    m_rate = int(info->rate);
    m_bits = 16;
    m_bit_rate = int(std::max(0L, info->bitrate_nominal));
    ogg_int64_t total_ms = ov_time_total(&m_stream->file, -1);
    m_duration = total_ms > 0 ? double(total_ms) / 1000 : 0;
    // Opening a chained file walks its links; reading starts again at the first one.
    if (ov_seekable(&m_stream->file))
        ov_pcm_seek(&m_stream->file, 0);
}

VorbisReader::~VorbisReader() {
    if (m_stream)
        ov_clear(&m_stream->file);
}

void VorbisReader::read_block(audio::AudioBlock& out, int max_bytes) {
    // What the last pull read of the next link comes first, as a block of its own.
    if (!m_pending.empty()) {
        out = m_pending;
        m_pending = audio::AudioBlock{};
        return;
    }
    vorbis_info* current = ov_info(&m_stream->file, -1);
    if (!current || current->channels < 1)
        return;
    int want = std::clamp(max_bytes, current->channels * 2, kMaxRead);
    want -= want % (current->channels * 2);
    audio::ByteSlice bytes = audio::ByteSlice::allocate(size_t(want));
    char* data = reinterpret_cast<char*>(bytes.writable_data());
    int filled = 0;
    int holes = 0;
    // Each read returns whole frames of one link; a block holds the frames of one link only,
    // in that link's format.
    int block_link = -1;
    vorbis_info* info = nullptr;
    while (filled < want) {
        int link = -1;
        long got = ov_read(&m_stream->file, data + filled, want - filled, &link);
        if (got == OV_HOLE && ++holes < kMaxHoles)
            continue;
        if (got <= 0)
            break;
        vorbis_info* format = ov_info(&m_stream->file, link);
        if (!format || format->channels < 1 || got % (format->channels * 2) != 0)
            break;
        if (block_link < 0) {
            block_link = link;
            info = format;
        } else if (link != block_link) {
            m_pending.bytes = audio::ByteSlice::copy_of(size_t(got), data + filled);
            m_pending.channels = format->channels;
            m_pending.bits_per_sample = 16;
            m_pending.sample_rate = int(format->rate);
            break;
        }
        filled += int(got);
    }
    if (filled == 0 || !info)
        return;
    bytes.truncate(size_t(filled));
    out.bytes = bytes;
    out.channels = info->channels;
    out.bits_per_sample = 16;
    out.sample_rate = int(info->rate);
}

bool VorbisReader::seek_locked(double position) {
    m_pending = audio::AudioBlock{};
    return ov_time_seek(&m_stream->file, ogg_int64_t(position * 1000)) == 0;
}

} // namespace formats
