#include "formats/factory.h"

#include "formats/mp3_reader.h"
#include "formats/mp3_writer.h"
#include "formats/mpc_reader.h"
#include "formats/vorbis_reader.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace formats {

std::unique_ptr<audio::FileWriter> create_writer(const std::u16string& path,
                                                 const std::u16string& codec, int channels,
                                                 int bits, int rate, int bit_rate, bool append) {
    audio::AudioBlock declared;
    declared.channels = channels;
    declared.bits_per_sample = bits;
    declared.sample_rate = rate;
    if (codec == audio::kCodecPcm)
        return std::make_unique<PcmWavWriter>(path, append, declared);
    if (codec == audio::kCodecMp3)
        return std::make_unique<Mp3Writer>(path, bit_rate, append);
    if (codec == audio::kCodecAdpcm)
        return std::make_unique<AdpcmWavWriter>(path, append, declared);
    if (codec == audio::kCodecGsm)
        return std::make_unique<GsmWavWriter>(path, append, declared);
    return nullptr;
}

namespace {
template <typename Reader>
std::unique_ptr<audio::FileReader> try_reader(const std::u16string& path) {
    auto reader = std::make_unique<Reader>(path);
    if (!reader->is_valid())
        return nullptr;
    return reader;
}
} // namespace

std::unique_ptr<audio::FileReader> open_reader(const std::u16string& path, ReaderUse use) {
    using Factory = std::unique_ptr<audio::FileReader> (*)(const std::u16string&);
    static constexpr Factory kReaders[] = {
        try_reader<PcmWavReader>, try_reader<AdpcmWavReader>, try_reader<GsmWavReader>,
        try_reader<VorbisReader>, try_reader<MpcReader>,
    };
    for (Factory factory : kReaders)
        if (auto reader = factory(path))
            return reader;
    auto mp3 = std::make_unique<FileReaderMP3>(
        path, use == ReaderUse::Waveform ? Mp3Decoding::Preview : Mp3Decoding::Full);
    if (!mp3->is_valid())
        return nullptr;
    return mp3;
}

} // namespace formats
