#include "controller/phone_speaker.h"

#include "telephony/phone_state.h"

namespace controller {

PhoneSpeaker::PhoneSpeaker() {
    m_initialised = telephony::speakerphone_provider_present();
    m_device_count = m_initialised ? 1 : 0;
}

void PhoneSpeaker::set_speaker(bool on) {
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

} // namespace controller
