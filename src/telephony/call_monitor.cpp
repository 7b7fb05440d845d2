#include "telephony/call_monitor.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/registry_notifications.h"
#include "platform/registry_store.h"

namespace telephony {

namespace {
constexpr double poll_seconds = 0.1;

// Whether the store holds the notification exactly as given.
bool same_notification_stored(const platform::RegistryNotification& wanted) {
    for (const auto& stored : platform::registry_notifications()) {
        if (stored.name != wanted.name)
            continue;
        return stored.root == wanted.root && stored.key == wanted.key &&
               stored.value_name == wanted.value_name && stored.command == wanted.command &&
               stored.flags == wanted.flags && stored.condition == wanted.condition &&
               stored.mask == wanted.mask && stored.target == wanted.target;
    }
    return false;
}
} // namespace

CallMonitorImpl::CallMonitorImpl(CallListener* observer) : m_observer(observer), m_timer(*this) {
    m_watch = platform::RegistryWatch::create([this] { look(); });
    m_timer.after(poll_seconds);
}

CallMonitorImpl::~CallMonitorImpl() {
    m_watch.reset();
    m_timer.cancel();
}

void CallMonitorImpl::on_timer(foundation::Timer&) {
    look();
    if (!m_watch)
        m_timer.after(poll_seconds);
}

void CallMonitorImpl::look() {
    if (m_observer) {
        CallInfo call = query_phone_state();
        const bool in_call_now = call.direction != CallDirection::None;
        if (in_call_now != m_in_call) {
            m_in_call = in_call_now;
            foundation::log() << "CallMonitorImpl call=" << int32_t(in_call_now ? 1 : 0) << " "
                              << platform::tick_count() << "\n";
            if (in_call_now)
                m_observer->on_call_start(call.name, call.number, call.direction);
            else
                m_observer->on_call_stop();
        }
    }
    if (m_after_look)
        m_after_look();
}

bool set_app_notification(const std::u16string& name, const std::u16string& command) {
    foundation::log() << "set_app_notification fun good\n";
    platform::RegistryNotification notification;
    notification.name = foundation::to_utf8(name);
    notification.root = platform::RegistryRoot::LocalMachine;
    notification.key = "System\\State\\Phone";
    notification.value_name = "Status";
    notification.command = foundation::to_utf8(command);
    notification.flags = platform::RNAF_NONAMEONCMDLINE;
    notification.condition = platform::RegistryCondition::Equal;
    notification.mask = status_active_call;
    notification.target = status_active_call;
    uint32_t result = platform::registry_notify_app(notification);
    if (result == platform::REG_NOTIFY_ALREADY_EXISTS && !same_notification_stored(notification)) {
        // Left by a program that has moved or was built elsewhere: it would start that one.
        foundation::log() << "set_app_notification replacing a stale one\n";
        platform::registry_stop_notification(notification.name);
        result = platform::registry_notify_app(notification);
    }
    foundation::log() << "set_app_notification result=" << result << "\n";
    return result == platform::REG_NOTIFY_OK || result == platform::REG_NOTIFY_ALREADY_EXISTS;
}

bool stop_app_notification(const std::u16string& name) {
    foundation::log() << "stop_app_notification fun good\n";
    const uint32_t result = platform::registry_stop_notification(foundation::to_utf8(name));
    foundation::log() << "stop_app_notification result=" << result << "\n";
    return true;
}

} // namespace telephony
