#pragma once

// Switches the phone's speakerphone through the telephony provider. Without a provider it does
// nothing. UI thread only.

#include <cstdint>

namespace controller {

class PhoneSpeaker {
public:
    PhoneSpeaker();
    bool is_initialised() const { return m_initialised; }
    uint32_t device_count() const { return m_device_count; }
    // Every phone device's speaker on (microphone and speaker) or off (on hook). Failures are
    // ignored.
    void set_speaker(bool on);

private:
    bool m_initialised{false};
    uint32_t m_device_count{0};
};

} // namespace controller
