#include "controller/phone_speaker.h"

#include "foundation/log.h"
#include "telephony/phone_state.h"

namespace controller {

PhoneSpeaker::PhoneSpeaker() {
    m_initialised = telephony::speakerphone_provider_present();
    m_device_count = m_initialised ? 1 : 0;
}

void PhoneSpeaker::set_speaker(bool on) {
    if (on || m_switched_on)
        m_call_audio.set_speaker(on);
    m_switched_on = on;
    take_notices();
    request_provider(on);
}

void PhoneSpeaker::choose_speaker(bool on) {
    m_call_audio.set_speaker(on);
    m_switched_on = on;
    take_notices();
    request_provider(on);
}

void PhoneSpeaker::request_provider(bool on) {
    // A provider may appear after start-up; it is looked for again before giving up.
    if (!m_initialised) {
        m_initialised = telephony::speakerphone_provider_present();
        m_device_count = m_initialised ? 1 : 0;
    }
    if (!m_initialised)
        return;
    for (uint32_t device = 0; device < m_device_count; ++device)
        telephony::request_speakerphone(on);
}

// What the helper found out about earlier requests.
void PhoneSpeaker::take_notices() {
    for (const auto& text : m_call_audio.take_notices())
        foundation::log() << "PhoneSpeaker::set_speaker " << text << "\n";
}

} // namespace controller
