#include "formats_support.h"

using namespace formats_test;

// Info: one block per file, MP3 tags; an unreadable file fails the command, not the others.
TEST(FormatCommands, InfoPrintsOneBlockPerFile) {
    QV_SKIP_IF_MISSING(std::filesystem::exists(cli_path()) ? "" : "quillory-cli");
    TempDir dir;
    const auto at = [&](const char* name) { return quote(dir / name); };
    std::string out;
    ASSERT_TRUE(shell("sox -n -r 8000 -c 1 -b 16 " + at("tone.wav") + " synth 2.5 sine 300"));
    ASSERT_TRUE(shell(cli_path() + " encode " + at("tone.wav") + " " + at("tone.gsm.wav") +
                      " --codec GSM"));
    EXPECT_TRUE(shell(cli_path() + " info " + at("tone.wav") + " " + at("tone.gsm.wav"), &out));
    EXPECT_EQ(out, "path=" + (dir / "tone.wav").string() +
                       "\ncodec=PCM\nchannels=1\nrate=8000\nbits=16\nbitrate=128000\n"
                       "duration=2.500\n\npath=" +
                       (dir / "tone.gsm.wav").string() +
                       "\ncodec=GSM\nchannels=1\nrate=8000\nbits=16\nbitrate=13000\n"
                       "duration=2.500\n");

    ASSERT_TRUE(
        shell(cli_path() + " encode " + at("tone.wav") + " " + at("t.mp3") + " --codec mp3"));
    python(
        "import sys\nfrom mutagen.id3 import ID3, TPE1, TALB\nt = ID3()\nt.add(TPE1(encoding=0, "
        "text='Eve'))\nt.add(TALB(encoding=0, text='Outgoing'))\nt.save(sys.argv[1], v2_version=3)",
        dir / "t.mp3");
    write_bytes(dir / "junk.bin", std::vector<uint8_t>(5000, 7));
    EXPECT_FALSE(shell(cli_path() + " info " + at("junk.bin") + " " + at("t.mp3"), &out));
    EXPECT_THAT(out, HasSubstr("\ncodec=mp3\nchannels=1\nrate=8000\nbits=16\nbitrate=64000\n"));
    EXPECT_THAT(out, HasSubstr("artist=Eve\nalbum=Outgoing\n"));
    EXPECT_EQ(out.find("title="), std::string::npos);
    EXPECT_EQ(out.find("junk"), std::string::npos);
}

// Encode and decode through the codec factories; 8-bit PCM widens; bad requests are refused.
TEST(FormatCommands, EncodeAndDecodeThroughTheFactories) {
    QV_SKIP_IF_MISSING(std::filesystem::exists(cli_path()) ? "" : "quillory-cli");
    TempDir dir;
    const auto at = [&](const char* name) { return " " + quote(dir / name); };
    const auto runs = [&](const std::string& arguments) { return shell(cli_path() + arguments); };
    ASSERT_TRUE(shell("sox -n -r 8000 -c 1 -b 16" + at("tone.wav") + " synth 2.5 sine 300"));
    ASSERT_TRUE(runs(" encode" + at("tone.wav") + at("a.wav") + " --codec ADPCM"));
    ASSERT_TRUE(runs(" decode" + at("a.wav") + at("back.wav")));
    EXPECT_EQ(soxi(dir / "back.wav", "-s"), 20000);
    ASSERT_TRUE(shell("sox" + at("tone.wav") + " -b 8" + at("t8.wav")));
    ASSERT_TRUE(runs(" decode" + at("t8.wav") + at("b8.wav")));
    EXPECT_EQ(soxi(dir / "b8.wav", "-b"), 16);
    ASSERT_TRUE(shell("sox" + at("tone.wav") + " -r 16000" + at("t16.wav")));
    EXPECT_FALSE(runs(" encode" + at("t16.wav") + at("g.wav") + " --codec GSM")); // 8 kHz only
    EXPECT_FALSE(std::filesystem::exists(dir / "g.wav"));
    for (const char* bad : {" --codec FLAC", " --codec mp3 --bitrate x"})
        EXPECT_FALSE(runs(" encode" + at("tone.wav") + at("x") + bad)) << bad;
    EXPECT_FALSE(runs(" decode" + at("missing.wav") + at("x.wav")));
}
