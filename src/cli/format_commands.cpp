// info, decode and encode: the audio file formats from the command line.

#include "audio/link.h"
#include "cli/command.h"
#include "formats/factory.h"
#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "foundation/number.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using foundation::from_utf8;
using foundation::to_utf8;

// Collects what a pull returns.
class PullEnd : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock&) override {}
};

int16_t sample_to16(const uint8_t* p, int bytes) {
    switch (bytes) {
    case 1:
        return int16_t((p[0] - 128) * 256);
    case 2:
        return int16_t(uint16_t(p[0] | (p[1] << 8)));
    default:
        // The two most significant bytes of a wider little-endian sample.
        return int16_t(uint16_t(p[bytes - 2] | (p[bytes - 1] << 8)));
    }
}

// The block as 16-bit PCM (shared, not copied, when it is 16-bit already).
audio::AudioBlock to16(const audio::AudioBlock& in) {
    if (in.bits_per_sample == 16 || in.empty())
        return in;
    int bytes = (in.bits_per_sample + 7) / 8;
    size_t samples = in.frames() * size_t(in.channels);
    audio::AudioBlock out = in;
    out.bits_per_sample = 16;
    out.bytes = audio::ByteSlice::allocate(samples * 2);
    auto* target = reinterpret_cast<int16_t*>(out.bytes.writable_data());
    const uint8_t* source = in.bytes.data();
    for (size_t i = 0; i < samples; ++i)
        target[i] = sample_to16(source + i * size_t(bytes), bytes);
    return out;
}

int pull_size(const audio::FileReader& reader) {
    // About 200 ms of 16-bit PCM, as the player asks for.
    int bytes = reader.sample_rate() * reader.channels() * 2 / 5;
    return bytes > 4096 ? bytes : 4096;
}

// Pulls the whole stream from the reader into the writer as 16-bit PCM; the frames it took.
uint64_t copy_stream(audio::FileReader& reader, audio::FileWriter& writer) {
    PullEnd end;
    audio::connect(reader.output(), &end);
    int max_bytes = pull_size(reader);
    uint64_t frames = 0;
    for (;;) {
        audio::AudioBlock block;
        audio::pull(end, block, max_bytes);
        if (block.empty() || !writer.is_valid())
            break;
        frames += block.frames();
        writer.input().on_data(to16(block));
    }
    audio::connect(reader.output(), nullptr);
    return frames;
}

// Why a file given to `command` cannot be read: the file system's reason, or that it is not an
// audio file this program reads. Returns 1, the exit status for it.
int cannot_read(const char* command, const std::string& path) {
    std::string reason;
    if (foundation::is_readable_file(from_utf8(path), reason))
        reason = "not an audio file this program reads";
    std::fprintf(stderr, "quillory-cli %s: %s: %s\n", command, path.c_str(), reason.c_str());
    return 1;
}

// A conversion never writes over its own input: the output would be emptied before it is read.
bool output_is_input(const char* command, const std::string& input, const std::string& output) {
    if (!foundation::same_file(from_utf8(input), from_utf8(output)))
        return false;
    std::fprintf(stderr, "quillory-cli %s: %s is the input file; choose another output\n", command,
                 output.c_str());
    return true;
}

void print_line(const char* key, const std::string& value) {
    std::printf("%s=%s\n", key, value.c_str());
}

int info(const cli::Arguments& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: quillory-cli info FILE...\n");
        return 2;
    }
    int result = 0;
    bool first = true;
    for (const std::string& path : args) {
        auto reader = formats::open_reader(from_utf8(path));
        if (!reader) {
            result = cannot_read("info", path);
            continue;
        }
        if (!first)
            std::printf("\n");
        first = false;
        print_line("path", path);
        print_line("codec", to_utf8(reader->codec_name()));
        print_line("channels", std::to_string(reader->channels()));
        print_line("rate", std::to_string(reader->sample_rate()));
        print_line("bits", std::to_string(reader->bits_per_sample()));
        print_line("bitrate", std::to_string(reader->bit_rate()));
        char duration[64];
        std::snprintf(duration, sizeof duration, "%.3f", reader->duration());
        print_line("duration", duration);

        foundation::File file(from_utf8(path), foundation::File::Read);
        formats::Id3Tag tag;
        if (tag.parse(file) > 0) {
            const std::pair<const char*, const char*> texts[] = {
                {"artist", formats::kId3Artist},
                {"title", formats::kId3Title},
                {"album", formats::kId3Album},
            };
            for (const auto& [key, id] : texts) {
                std::u16string text = tag.text(id);
                if (!text.empty())
                    print_line(key, to_utf8(text));
            }
        }
    }
    return result;
}

int decode(const cli::Arguments& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: quillory-cli decode FILE OUT.wav\n");
        return 2;
    }
    if (output_is_input("decode", args[0], args[1]))
        return 2;
    auto reader = formats::open_reader(from_utf8(args[0]));
    if (!reader)
        return cannot_read("decode", args[0]);
    auto writer = formats::create_writer(from_utf8(args[1]), audio::kCodecPcm, reader->channels(),
                                         16, reader->sample_rate(), 0, false);
    const uint64_t frames = copy_stream(*reader, *writer);
    bool ok = writer->complete();
    writer.reset();
    if (!ok) {
        std::fprintf(stderr, "quillory-cli decode: writing %s failed\n", args[1].c_str());
        return 1;
    }
    if (frames == 0) {
        // Not a success: nothing in the file could be played.
        foundation::delete_file(from_utf8(args[1]));
        std::fprintf(stderr, "quillory-cli decode: %s: no playable audio\n", args[0].c_str());
        return 1;
    }
    return 0;
}

int encode(const cli::Arguments& args) {
    std::string codec;
    int bit_rate = 0;
    std::vector<std::string> paths;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--codec" && i + 1 < args.size()) {
            codec = args[++i];
        } else if (args[i] == "--bitrate" && i + 1 < args.size()) {
            const long value = foundation::parse_number<long>(args[++i]).value_or(0);
            if (value < 8000 || value > 320000) {
                std::fprintf(stderr, "quillory-cli encode: bad bit rate %s\n", args[i].c_str());
                return 2;
            }
            bit_rate = int(value);
        } else {
            paths.push_back(args[i]);
        }
    }
    if (paths.size() != 2 || codec.empty()) {
        std::fprintf(stderr, "usage: quillory-cli encode IN.wav OUT --codec mp3|PCM|ADPCM|GSM "
                             "[--bitrate BITS_PER_SECOND]\n");
        return 2;
    }
    if (codec != "mp3" && codec != "PCM" && codec != "ADPCM" && codec != "GSM") {
        std::fprintf(stderr, "quillory-cli encode: unknown codec %s\n", codec.c_str());
        return 2;
    }
    if (bit_rate == 0)
        bit_rate = 64000;
    if (output_is_input("encode", paths[0], paths[1]))
        return 2;
    auto reader = formats::open_reader(from_utf8(paths[0]));
    if (!reader)
        return cannot_read("encode", paths[0]);
    if (codec == "GSM" && (reader->sample_rate() != 8000 || reader->channels() != 1)) {
        std::fprintf(stderr,
                     "quillory-cli encode: GSM needs 8000 Hz mono input; %s is %d Hz, %d "
                     "channel(s)\n",
                     paths[0].c_str(), reader->sample_rate(), reader->channels());
        return 1;
    }
    if ((codec == "ADPCM" || codec == "mp3") && reader->channels() > 2) {
        std::fprintf(stderr, "quillory-cli encode: %s takes mono or stereo input only\n",
                     codec.c_str());
        return 1;
    }
    auto writer = formats::create_writer(from_utf8(paths[1]), from_utf8(codec), reader->channels(),
                                         16, reader->sample_rate(), bit_rate, false);
    copy_stream(*reader, *writer);
    bool ok = writer->complete();
    writer.reset();
    if (!ok) {
        std::fprintf(stderr, "quillory-cli encode: writing %s failed\n", paths[1].c_str());
        return 1;
    }
    return 0;
}

} // namespace

QV_CLI_COMMAND("info", "info FILE...  (format, duration and tag of audio files)", info);
QV_CLI_COMMAND("decode", "decode FILE OUT.wav  (any readable audio file to 16-bit PCM WAV)",
               decode);
QV_CLI_COMMAND("encode", "encode IN.wav OUT --codec mp3|PCM|ADPCM|GSM [--bitrate BITS_PER_SECOND]",
               encode);
