#include "controller/settings.h"

#include "foundation/registry.h"
#include "foundation/text.h"

#include <algorithm>
#include <cmath>

namespace controller {

namespace {
constexpr double fixed_point_one = 1048576.0;
}

std::u16string settings_key() {
    return u"HKEY_CURRENT_USER\\Software\\Corvane\\" + std::u16string(application_name);
}

Quality quality_for(std::u16string_view format_name) {
    if (format_name == u"Mp3Low")
        return {22050, 32000};
    if (format_name == u"Mp3High")
        return {44100, 96000};
    return {44100, 64000};
}

int boost_gain_for(std::u16string_view boost_name) {
    if (boost_name == u"Boost1")
        return 2;
    if (boost_name == u"Boost2")
        return 4;
    if (boost_name == u"Boost3")
        return 8;
    return 1;
}

std::u16string format_label(int sample_rate, int bits_per_sample, int bit_rate) {
    std::u16string label = foundation::to_text(int32_t(sample_rate / 1000)) + u"kHz " +
                           foundation::to_text(int32_t(bits_per_sample)) + u"bit";
    if (bit_rate != 0)
        label += u" " + foundation::to_text(int32_t(bit_rate / 1000)) + u"kbps";
    return label;
}

std::u16string lost_audio_text(std::u16string pattern, double seconds) {
    const int64_t tenths = seconds > 0 ? std::max<int64_t>(1, std::llround(seconds * 10)) : 0;
    const std::u16string number =
        foundation::to_text(int32_t(std::min<int64_t>(tenths / 10, 1 << 30))) + u"." +
        foundation::to_text(int32_t(tenths % 10));
    const size_t at = pattern.find(u"%seconds%");
    if (at != std::u16string::npos)
        pattern.replace(at, 9, number);
    return pattern;
}

bool hardware_speaker_on() {
    uint32_t value = 0;
    if (!foundation::read_dword(u"HKEY_LOCAL_MACHINE\\System\\State\\Hardware", u"Speaker", value))
        return false;
    return value != 0;
}

uint32_t to_fixed_point(double value) {
    if (!(value > 0.0))
        return 0;
    if (value > 1.0)
        value = 1.0;
    return uint32_t(value * fixed_point_one);
}

double from_fixed_point(uint32_t stored) {
    return double(stored) * (1.0 / fixed_point_one);
}

double nearest_speed(double speed) {
    double best = 1.0;
    for (double offered : kSpeeds)
        if (std::abs(offered - speed) < std::abs(best - speed))
            best = offered;
    return best;
}

double next_speed(double speed) {
    for (double offered : kSpeeds)
        if (offered > speed + 1e-6)
            return offered;
    return kSpeeds[0];
}

double skip_silence_threshold(double vas_level) {
    return vas_level > 0 ? vas_level : kQuietLevel;
}

void Settings::load_first() {
    const std::u16string key = settings_key();
    foundation::read_bool(key, u"Speaker", speaker);
    foundation::read_string(key, u"Format", format);
    foundation::read_string(key, u"Boost", boost);
    uint32_t vas = to_fixed_point(vas_level);
    if (foundation::read_dword(key, u"VasLevel", vas))
        vas_level = std::min(1.0, from_fixed_point(vas));
}

void Settings::load_secondary() {
    const std::u16string key = settings_key();
    foundation::read_bool(key, u"AutoRecord", auto_record);
    uint32_t stored = 1048576;
    foundation::read_dword(key, u"Volume", stored);
    volume = std::min(1.0, from_fixed_point(stored));
    uint32_t percent = 100;
    if (foundation::read_dword(key, u"Speed", percent))
        speed = nearest_speed(percent / 100.0);
    foundation::read_bool(key, u"SkipSilence", skip_silence);
}

void Settings::save() const {
    const std::u16string key = settings_key();
    foundation::write_dword(key, u"AutoRecord", auto_record ? 1 : 0);
    foundation::write_dword(key, u"Speaker", speaker ? 1 : 0);
    foundation::write_string(key, u"Format", format);
    foundation::write_string(key, u"Boost", boost);
    foundation::write_dword(key, u"Volume", to_fixed_point(volume));
    foundation::write_dword(key, u"VasLevel", to_fixed_point(vas_level));
    foundation::write_dword(key, u"Speed", uint32_t(std::lround(speed * 100)));
    foundation::write_dword(key, u"SkipSilence", skip_silence ? 1 : 0);
    foundation::flush();
}

std::u16string read_current_path() {
    std::u16string path;
    foundation::read_string(settings_key(), u"Path", path);
    return path;
}

void write_current_path(const std::u16string& path) {
    foundation::write_string(settings_key(), u"Path", path);
    foundation::flush();
}

} // namespace controller
