#include "formats_support.h"

#include <gtest/gtest.h>

using namespace formats_test;

namespace {

class FormatCommands : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(cli_path()))
            GTEST_SKIP() << "quillory-cli is not built";
        shell("sox -n -r 8000 -c 1 -b 16 " + quote(dir / "tone.wav") + " synth 2.5 sine 300");
    }
    // What the program said, and in `ok` whether it succeeded; file names are in `dir`.
    std::string cli(const std::string& arguments, bool* ok = nullptr) {
        std::string out;
        const bool result = shell(cli_path() + " " + arguments, &out);
        if (ok)
            *ok = result;
        return out;
    }
    bool runs(const std::string& arguments) {
        bool ok = false;
        cli(arguments, &ok);
        return ok;
    }
    std::string at(const char* name) const { return quote(dir / name); }
    TempDir dir;
};

} // namespace

TEST_F(FormatCommands, InfoPrintsOneBlockPerFile) {
    ASSERT_TRUE(runs("encode " + at("tone.wav") + " " + at("tone.gsm.wav") + " --codec GSM"));
    bool ok = false;
    std::string out = cli("info " + at("tone.wav") + " " + at("tone.gsm.wav"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "path=" + (dir / "tone.wav").string() +
                       "\ncodec=PCM\nchannels=1\nrate=8000\nbits=16\nbitrate=128000\n"
                       "duration=2.500\n\npath=" +
                       (dir / "tone.gsm.wav").string() +
                       "\ncodec=GSM\nchannels=1\nrate=8000\nbits=16\nbitrate=13000\n"
                       "duration=2.500\n");

    // Tags of MP3 files show; a file nobody reads fails the command but not the others.
    ASSERT_TRUE(runs("encode " + at("tone.wav") + " " + at("t.mp3") + " --codec mp3"));
    python(
        "import sys\nfrom mutagen.id3 import ID3, TPE1, TALB\nt = ID3()\nt.add(TPE1(encoding=0, "
        "text='Eve'))\nt.add(TALB(encoding=0, text='Outgoing'))\nt.save(sys.argv[1], v2_version=3)",
        dir / "t.mp3");
    write_bytes(dir / "junk.bin", std::vector<uint8_t>(5000, 7));
    out = cli("info " + at("junk.bin") + " " + at("t.mp3"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_THAT(out, HasSubstr("\ncodec=mp3\nchannels=1\nrate=8000\nbits=16\nbitrate=64000\n"));
    EXPECT_THAT(out, HasSubstr("artist=Eve\nalbum=Outgoing\n"));
    EXPECT_EQ(out.find("title="), std::string::npos);
    EXPECT_EQ(out.find("junk"), std::string::npos);
}

TEST_F(FormatCommands, EncodeAndDecodeThroughTheFactories) {
    ASSERT_TRUE(runs("encode " + at("tone.wav") + " " + at("a.wav") + " --codec ADPCM"));
    ASSERT_TRUE(runs("decode " + at("a.wav") + " " + at("back.wav")));
    EXPECT_EQ(soxi(dir / "back.wav", "-s"), 20000);
    EXPECT_EQ(soxi(dir / "back.wav", "-b"), 16);
    // 8-bit PCM is widened on decoding.
    shell("sox " + at("tone.wav") + " -b 8 " + at("t8.wav"));
    ASSERT_TRUE(runs("decode " + at("t8.wav") + " " + at("b8.wav")));
    EXPECT_EQ(soxi(dir / "b8.wav", "-b"), 16);

    // GSM only from 8000 Hz mono; bad options and unknown codecs are refused.
    shell("sox " + at("tone.wav") + " -r 16000 " + at("t16.wav"));
    EXPECT_FALSE(runs("encode " + at("t16.wav") + " " + at("g.wav") + " --codec GSM"));
    EXPECT_FALSE(std::filesystem::exists(dir / "g.wav"));
    for (const char* bad : {" --codec FLAC", " --codec mp3 --bitrate x"})
        EXPECT_FALSE(runs("encode " + at("tone.wav") + " " + at("x") + bad)) << bad;
    EXPECT_FALSE(runs("decode " + at("missing.wav") + " " + at("x.wav")));
}
