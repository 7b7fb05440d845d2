#pragma once

// The user's recording preferences, kept in the registry under settings_key(). The Document
// holds one Settings and changes it only through its own operations; screens never write the
// registry themselves. UI thread only.

#include <cstdint>
#include <string>
#include <string_view>

namespace controller {

inline constexpr std::u16string_view application_name = u"Quillory Vozir";

// "HKEY_CURRENT_USER\Software\Corvane\Quillory Vozir".
std::u16string settings_key();

// The sample rate and bit rate a "Format" name selects (exact, case-sensitive; anything else
// is the middle quality). Every recording is "mp3", mono, 16 bits.
struct Quality {
    int sample_rate;
    int bit_rate;
};
Quality quality_for(std::u16string_view format_name);

// The integer gain a "Boost" name selects (exact, case-sensitive; anything else is 1).
int boost_gain_for(std::u16string_view boost_name);

// "44kHz 16bit 64kbps": rate / 1000, bits, and bit rate / 1000 only when it is non-zero.
std::u16string format_label(int sample_rate, int bits_per_sample, int bit_rate);

// The text of "Audio_lost" (`pattern`) with "%seconds%" replaced by the seconds lost, to a
// tenth, and never below 0.1 for a loss that is not nothing.
std::u16string lost_audio_text(std::u16string pattern, double seconds);

// The DWORD "Speaker" under "HKEY_LOCAL_MACHINE\System\State\Hardware": true only when it reads
// and is non-zero.
[[nodiscard]] bool hardware_speaker_on();

// "Volume" and "VasLevel" are stored as value * 2^20, truncated; values outside [0, 1] are
// clamped before storing.
uint32_t to_fixed_point(double value);
double from_fixed_point(uint32_t stored);

// Playback speeds offered, slowest first; the one of them nearest to `speed`; the one after
// `speed` (after the fastest, the slowest again).
inline constexpr double kSpeeds[] = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0, 3.0};
double nearest_speed(double speed);
double next_speed(double speed);

// Skipping silence passes over what stays below the voice switch's level; with the switch off,
// below this (about -34 dBFS, under speech, above room noise).
inline constexpr double kQuietLevel = 0.02;
double skip_silence_threshold(double vas_level);

struct Settings {
    bool auto_record{false};
    bool speaker{false};
    std::u16string format{u"Mp3Middle"};
    std::u16string boost{u"BoostOff"};
    double volume{1.0};
    double vas_level{0.0};
    double speed{1.0}; // one of kSpeeds
    bool skip_silence{false};

    // "Speaker", "Format", "Boost" and "VasLevel"; a missing or unreadable value keeps the
    // current one.
    void load_first();
    // "AutoRecord", "Volume", "Speed" (percent) and "SkipSilence".
    void load_secondary();
    // The eight values, then a flush. Write failures are ignored.
    void save() const;
};

// The "Path" value: the record last recorded, appended to or renamed.
std::u16string read_current_path();
void write_current_path(const std::u16string& path);

} // namespace controller
