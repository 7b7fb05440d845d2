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
    std::string cli(const std::string& arguments, bool* ok = nullptr) {
        std::string out;
        bool result = shell(cli_path() + " " + arguments, &out);
        if (ok)
            *ok = result;
        return out;
    }
    TempDir dir;
};

} // namespace

TEST_F(FormatCommands, InfoPrintsOneBlockPerFile) {
    bool ok = false;
    cli("encode " + quote(dir / "tone.wav") + " " + quote(dir / "tone.gsm.wav") + " --codec GSM",
        &ok);
    ASSERT_TRUE(ok);
    std::string out =
        cli("info " + quote(dir / "tone.wav") + " " + quote(dir / "tone.gsm.wav"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "path=" + (dir / "tone.wav").string() +
                       "\ncodec=PCM\nchannels=1\nrate=8000\nbits=16\nbitrate=128000\n"
                       "duration=2.500\n\npath=" +
                       (dir / "tone.gsm.wav").string() +
                       "\ncodec=GSM\nchannels=1\nrate=8000\nbits=16\nbitrate=13000\n"
                       "duration=2.500\n");

    // Tags of MP3 files show; a file nobody reads fails the command but not the others.
    cli("encode " + quote(dir / "tone.wav") + " " + quote(dir / "t.mp3") + " --codec mp3", &ok);
    ASSERT_TRUE(ok);
    python(
        "import sys\nfrom mutagen.id3 import ID3, TPE1, TALB\nt = ID3()\nt.add(TPE1(encoding=0, "
        "text='Eve'))\nt.add(TALB(encoding=0, text='Outgoing'))\nt.save(sys.argv[1], v2_version=3)",
        dir / "t.mp3");
    write_bytes(dir / "junk.bin", std::vector<uint8_t>(5000, 7));
    out = cli("info " + quote(dir / "junk.bin") + " " + quote(dir / "t.mp3"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_THAT(out, HasSubstr("\ncodec=mp3\nchannels=1\nrate=8000\nbits=16\nbitrate=64000\n"));
    EXPECT_THAT(out, HasSubstr("artist=Eve\nalbum=Outgoing\n"));
    EXPECT_EQ(out.find("title="), std::string::npos);
    EXPECT_EQ(out.find("junk"), std::string::npos);
}

TEST_F(FormatCommands, EncodeAndDecodeThroughTheFactories) {
    bool ok = false;
    cli("encode " + quote(dir / "tone.wav") + " " + quote(dir / "a.wav") + " --codec ADPCM", &ok);
    ASSERT_TRUE(ok);
    cli("decode " + quote(dir / "a.wav") + " " + quote(dir / "back.wav"), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(soxi(dir / "back.wav", "-s"), 20000);
    EXPECT_EQ(soxi(dir / "back.wav", "-b"), 16);
    // 8-bit PCM is widened on decoding.
    shell("sox " + quote(dir / "tone.wav") + " -b 8 " + quote(dir / "t8.wav"));
    cli("decode " + quote(dir / "t8.wav") + " " + quote(dir / "b8.wav"), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(soxi(dir / "b8.wav", "-b"), 16);

    // GSM only from 8000 Hz mono; bad options and unknown codecs are refused.
    shell("sox " + quote(dir / "tone.wav") + " -r 16000 " + quote(dir / "t16.wav"));
    cli("encode " + quote(dir / "t16.wav") + " " + quote(dir / "g.wav") + " --codec GSM", &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "g.wav"));
    cli("encode " + quote(dir / "tone.wav") + " " + quote(dir / "x") + " --codec FLAC", &ok);
    EXPECT_FALSE(ok);
    cli("encode " + quote(dir / "tone.wav") + " " + quote(dir / "x") + " --codec mp3 --bitrate x",
        &ok);
    EXPECT_FALSE(ok);
    cli("decode " + quote(dir / "missing.wav") + " " + quote(dir / "x.wav"), &ok);
    EXPECT_FALSE(ok);
}
