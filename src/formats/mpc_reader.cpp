#include "formats/mpc_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mpc/mpcdec.h>
#include <vector>

namespace formats {

namespace {

foundation::File& file_of(mpc_reader* reader) {
    return *static_cast<foundation::File*>(reader->data);
}

mpc_int32_t read_callback(mpc_reader* reader, void* ptr, mpc_int32_t size) {
    if (size <= 0)
        return 0;
    return mpc_int32_t(file_of(reader).read(ptr, uint32_t(size)));
}

mpc_bool_t seek_callback(mpc_reader* reader, mpc_int32_t offset) {
    return offset >= 0 && file_of(reader).seek(uint64_t(offset));
}

mpc_int32_t tell_callback(mpc_reader* reader) {
    return mpc_int32_t(file_of(reader).tell());
}

mpc_int32_t size_callback(mpc_reader* reader) {
    return mpc_int32_t(std::min<uint64_t>(file_of(reader).size(), INT32_MAX));
}

mpc_bool_t canseek_callback(mpc_reader*) {
    return 1;
}

int16_t to16(MPC_SAMPLE_FORMAT sample) {
    float scaled = std::round(float(sample) * 32768.0f);
    return int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

struct MpcReader::Stream {
    mpc_reader reader{};
    mpc_demux* demux{nullptr};
    mpc_streaminfo info{};
    std::vector<MPC_SAMPLE_FORMAT> samples =
        std::vector<MPC_SAMPLE_FORMAT>(MPC_DECODER_BUFFER_LENGTH);
};

MpcReader::MpcReader(const std::u16string& path) {
    if (!m_file.open(path, foundation::File::Read) || m_file.size() > INT32_MAX)
        return;
    char magic[4];
    if (m_file.read(magic, 4) != 4 || !m_file.seek(0))
        return;
    // Stream version 8 ("MPCK") and 7 ("MP+"); nothing else reaches the library.
    if (std::memcmp(magic, "MPCK", 4) != 0 && std::memcmp(magic, "MP+", 3) != 0)
        return;
    auto stream = std::make_unique<Stream>();
    stream->reader.read = read_callback;
    stream->reader.seek = seek_callback;
    stream->reader.tell = tell_callback;
    stream->reader.get_size = size_callback;
    stream->reader.canseek = canseek_callback;
    stream->reader.data = &m_file;
    stream->demux = mpc_demux_init(&stream->reader);
    if (!stream->demux)
        return;
    mpc_demux_get_info(stream->demux, &stream->info);
    m_stream = std::move(stream);
    const mpc_streaminfo& info = m_stream->info;
    if (info.channels < 1 || info.channels > 2 || info.sample_freq < 1)
        return;
    m_valid = true;
    m_channels = int(info.channels);
    m_rate = int(info.sample_freq);
    m_bits = 16;
    // Computed from the header's counts: a forged header makes it infinite or absurd.
    double bit_rate = info.average_bitrate;
    m_bit_rate = bit_rate > 0 && bit_rate < 1e7 ? int(bit_rate) : 0;
    // The header's sample count is not trusted beyond what the bytes can carry (a frame of
    // MPC_FRAME_LENGTH samples takes at least 20 bits): the library seeks by stepping frame by
    // frame up to its target, and a forged count would have it step for hours past the end.
    double most = double(m_file.size()) * 8 / 20 * int(MPC_FRAME_LENGTH) / info.sample_freq;
    m_duration = std::min(mpc_streaminfo_get_length(&m_stream->info), most);
}

MpcReader::~MpcReader() {
    if (m_stream && m_stream->demux)
        mpc_demux_exit(m_stream->demux);
}

void MpcReader::read_block(audio::AudioBlock& out, int) {
    mpc_frame_info frame{};
    frame.buffer = m_stream->samples.data();
    // Frames that carry no samples (the decoder's start-up) are passed over.
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (mpc_demux_decode(m_stream->demux, &frame) != MPC_STATUS_OK || frame.bits == -1)
            return;
        if (frame.samples > 0)
            break;
    }
    size_t count =
        std::min<size_t>(size_t(frame.samples) * size_t(m_channels), m_stream->samples.size());
    if (count == 0)
        return;
    audio::ByteSlice bytes = audio::ByteSlice::allocate(count * 2);
    auto* pcm = reinterpret_cast<int16_t*>(bytes.writable_data());
    for (size_t i = 0; i < count; ++i)
        pcm[i] = to16(m_stream->samples[i]);
    out.bytes = bytes;
    out.channels = m_channels;
    out.bits_per_sample = 16;
    out.sample_rate = m_rate;
}

bool MpcReader::seek_locked(double position) {
    return mpc_demux_seek_sample(m_stream->demux, mpc_uint64_t(position * m_rate)) == MPC_STATUS_OK;
}

} // namespace formats
