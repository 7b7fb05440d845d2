#pragma once

// Switches the phone's speakerphone: through callaudiod where it runs (asynchronously, the
// caller never waits), and through the telephony provider's request where one is present.
// Without either, the Speaker setting stays a stored preference. UI thread only.

#include "platform/call_audio.h"

#include <cstdint>

namespace controller {

class PhoneSpeaker {
public:
    PhoneSpeaker();
    [[nodiscard]] bool is_initialised() const { return m_initialised; }
    uint32_t device_count() const { return m_device_count; }
    // Every phone device's speaker on (microphone and speaker) or off (on hook). Switching off
    // reaches callaudiod only when this switched the speaker on: the end of a recording does
    // not take away a speaker the user chose in the phone's own dialler. Failures are ignored.
    void set_speaker(bool on);
    // The user's own choice during a call: always passed on.
    void choose_speaker(bool on);

    const platform::CallAudio& call_audio() const { return m_call_audio; }

private:
    void request_provider(bool on);
    void take_notices();

    bool m_initialised{false};
    uint32_t m_device_count{0};
    bool m_switched_on{false};
    platform::CallAudio m_call_audio;
};

} // namespace controller
