#include "formats_support.h"

#include <random>

using namespace formats_test;

// Files of every kind overwritten, cut, noisy or duplicated: refused or played to their end.
TEST(MutatedFiles, EveryReaderSurvives) {
    TempDir dir;
    auto wav = dir / "src.wav";
    ASSERT_TRUE(shell("sox -n -r 8000 -c 1 -b 16 " + quote(wav) + " synth 0.6 sine 300 sine 900"));
    shell("sox " + quote(wav) + " -e ms-adpcm " + quote(dir / "a.wav"));
    shell("sox " + quote(wav) + " -e gsm-full-rate " + quote(dir / "g.wav"));
    shell("sox " + quote(wav) + " -r 44100 -c 2 " + quote(dir / "w44.wav"));
    shell("oggenc -Q -o " + quote(dir / "o.ogg") + " " + quote(dir / "w44.wav"));
    shell("mpcenc --silent --overwrite " + quote(dir / "w44.wav") + " " + quote(dir / "m.mpc"));
    {
        auto mp3 = formats::create_writer(u16(dir / "e.mp3"), u"mp3", 1, 16, 8000, 32000, false);
        push_samples(mp3->input(), sox_samples(wav), 1, 8000);
    }
    python("import sys\nfrom mutagen.id3 import ID3, TIT2\nt = ID3()\n"
           "t.add(TIT2(encoding=1, text='Mutated'))\nt.save(sys.argv[1], v2_version=3)",
           dir / "e.mp3");

    std::mt19937 random(77);
    int opened = 0;
    for (const char* name : {"src.wav", "a.wav", "g.wav", "o.ogg", "m.mpc", "e.mp3"}) {
        auto original = read_bytes(dir / name);
        if (original.size() < 64)
            continue; // a tool that is missing; the other tests say so
        for (int round = 0; round < 80; ++round) {
            std::vector<uint8_t> bytes = original;
            int kind = round % 4;
            std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
            if (kind == 0) {
                // A few bytes anywhere, mostly in the headers.
                for (int i = 0; i < 1 + round % 5; ++i)
                    bytes[round % 2 ? at(random) % 200 : at(random)] = uint8_t(random());
            } else if (kind == 1) {
                bytes.resize(at(random));
            } else if (kind == 2) {
                // Noise through the body.
                for (size_t i = at(random); i < bytes.size(); i += 7)
                    bytes[i] = uint8_t(random());
            } else {
                size_t from = at(random), length = std::min<size_t>(300, bytes.size() - from);
                bytes.insert(bytes.begin() + std::ptrdiff_t(at(random)),
                             original.begin() + std::ptrdiff_t(from),
                             original.begin() + std::ptrdiff_t(from + length));
            }
            SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
            auto path = dir / "mutated";
            write_bytes(path, bytes);
            foundation::File file(u16(path), foundation::File::Read);
            formats::Id3Tag tag;
            tag.parse(file);
            tag.text(formats::kId3Title);
            auto reader = formats::open_reader(u16(path));
            if (!reader)
                continue;
            ++opened;
            Decoded decoded = pull_all(*reader, 8820, 5000);
            EXPECT_LT(decoded.blocks, 5000u);
            reader->seek(0.3);
            pull_all(*reader, 8820, 5000);
        }
    }
    EXPECT_GT(opened, 100);
}
