#include "formats/adpcm_codec.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace formats::adpcm {

const std::array<std::array<int16_t, 2>, kCoefficientCount> kCoefficients = {{
    {256, 0},
    {512, -256},
    {0, 0},
    {192, 64},
    {240, 0},
    {460, -208},
    {392, -232},
}};

namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                 768, 614, 512, 409, 307, 230, 230, 230};
// A step size read from a file keeps growing on hostile data; past this the next adaptation
// would overflow (and any step this large already saturates every sample).
constexpr int kMaxDelta = INT_MAX / 768;

struct Channel {
    int coef1{0};
    int coef2{0};
    int delta{16};
    int sample1{0};
    int sample2{0};
};

int clamp16(int value) {
    return std::clamp(value, -32768, 32767);
}

int16_t get16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] | (p[1] << 8)));
}

void put16(uint8_t* p, int value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(uint16_t(value) >> 8);
}

int decode_nibble(Channel& c, int nibble) {
    int predictor = (c.sample1 * c.coef1 + c.sample2 * c.coef2) >> 8;
    int code = nibble >= 8 ? nibble - 16 : nibble;
    int sample = clamp16(predictor + code * c.delta);
    c.sample2 = c.sample1;
    c.sample1 = sample;
    c.delta = std::clamp((kAdaptation[nibble] * c.delta) >> 8, 16, kMaxDelta);
    return sample;
}

// Returns the nibble; `error` grows to the largest error seen.
int encode_sample(Channel& c, int sample, int& error) {
    int predictor = (c.sample1 * c.coef1 + c.sample2 * c.coef2) >> 8;
    int code = std::clamp((sample - predictor) / c.delta, -8, 7);
    int coded = clamp16(predictor + code * c.delta);
    error = std::max(error, std::abs(coded - sample));
    c.delta = std::max(16, (kAdaptation[code & 15] * c.delta) >> 8);
    c.sample2 = c.sample1;
    c.sample1 = coded;
    return code & 15;
}

// One trial encoding with a fixed predictor index; returns the largest error.
int encode_with(const int16_t* in, int frames, int channels, int block_align, int predictor,
                uint8_t* out) {
    Channel state[2];
    uint8_t* p = out;
    for (int ch = 0; ch < channels; ++ch)
        *p++ = uint8_t(predictor);
    for (int ch = 0; ch < channels; ++ch) {
        state[ch].coef1 = kCoefficients[predictor][0];
        state[ch].coef2 = kCoefficients[predictor][1];
        state[ch].delta = 16;
        state[ch].sample1 = frames > 1 ? in[channels + ch] : 0;
        state[ch].sample2 = frames > 0 ? in[ch] : 0;
        put16(p + 2 * ch, state[ch].delta);
    }
    p += 2 * channels;
    for (int ch = 0; ch < channels; ++ch)
        put16(p + 2 * ch, state[ch].sample1);
    p += 2 * channels;
    for (int ch = 0; ch < channels; ++ch)
        put16(p + 2 * ch, state[ch].sample2);
    p += 2 * channels;

    int error = 0;
    uint8_t* end = out + block_align;
    std::memset(p, 0, size_t(end - p));
    bool high = true;
    for (int i = 2 * channels; i < frames * channels; ++i) {
        int nibble = encode_sample(state[i % channels], in[i], error);
        if (p >= end)
            break;
        if (high) {
            *p = uint8_t(nibble << 4);
        } else {
            *p++ |= uint8_t(nibble);
        }
        high = !high;
    }
    return error;
}

} // namespace

int block_align_for(int rate, int channels) {
    int per_channel = rate < 22050 ? 256 : rate < 44100 ? 512 : rate < 96000 ? 1024 : 2048;
    return per_channel * channels;
}

int samples_per_block(int block_align, int channels) {
    if (channels < 1 || block_align < 7 * channels)
        return 0;
    return ((block_align - 7 * channels) * 8) / (4 * channels) + 2;
}

int decode_block(const uint8_t* block, size_t size, int channels, int max_frames, int16_t* out) {
    if (channels < 1 || channels > 2 || size < size_t(7 * channels) || max_frames < 1)
        return 0;
    Channel state[2];
    const uint8_t* p = block;
    for (int ch = 0; ch < channels; ++ch) {
        int index = *p++;
        if (index >= kCoefficientCount)
            return 0;
        state[ch].coef1 = kCoefficients[index][0];
        state[ch].coef2 = kCoefficients[index][1];
    }
    for (int ch = 0; ch < channels; ++ch)
        state[ch].delta = get16(p + 2 * ch);
    p += 2 * channels;
    for (int ch = 0; ch < channels; ++ch)
        state[ch].sample1 = get16(p + 2 * ch);
    p += 2 * channels;
    for (int ch = 0; ch < channels; ++ch)
        state[ch].sample2 = get16(p + 2 * ch);
    p += 2 * channels;

    for (int ch = 0; ch < channels; ++ch) {
        out[ch] = int16_t(state[ch].sample2);
        if (max_frames > 1)
            out[channels + ch] = int16_t(state[ch].sample1);
    }
    int frames_in_block = 2 + int((block + size - p) * 2 / size_t(channels));
    int frames = std::min(frames_in_block, max_frames);
    int total = frames * channels;
    int16_t* o = out + 2 * channels;
    for (int i = 2 * channels; i < total; i += 2) {
        uint8_t byte = *p++;
        *o++ = int16_t(decode_nibble(state[i % channels], byte >> 4));
        if (i + 1 < total)
            *o++ = int16_t(decode_nibble(state[(i + 1) % channels], byte & 15));
    }
    return frames;
}

void encode_block(const int16_t* in, int frames, int channels, int block_align, uint8_t* out) {
    uint8_t trial[4096];
    int best_error = 100000;
    for (int predictor = 0; predictor < kCoefficientCount; ++predictor) {
        uint8_t* target = predictor == 0 ? out : trial;
        int error = encode_with(in, frames, channels, block_align, predictor, target);
        if (error < best_error) {
            best_error = error;
            if (target != out)
                std::memcpy(out, trial, size_t(block_align));
        }
    }
}

} // namespace formats::adpcm
