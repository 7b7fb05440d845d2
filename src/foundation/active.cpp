#include "foundation/active.h"

#include "foundation/active_scheduler.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace foundation {

namespace {
std::atomic<uint32_t> g_next_id{1};

CActiveScheduler& scheduler_for(const char16_t* place) {
    CActiveScheduler* scheduler = CActiveScheduler::instance();
    if (!scheduler)
        fatal_error(place, u"No active scheduler");
    return *scheduler;
}
} // namespace

CActive::CActive() : m_id(g_next_id.fetch_add(1, std::memory_order_relaxed)) {}

CActive::~CActive() {
    if (is_active())
        fatal_error(u"CActive::~CActive()",
                    u"Active object " + to_text(long(m_id)) + u" is already active");
}

void CActive::set_active() {
    scheduler_for(u"CActiveScheduler::set_active()").set_active(*this);
}

void CActive::cancel() {
    if (!is_active())
        return;
    scheduler_for(u"CActiveScheduler::cancel()").cancel(*this);
}

void CActive::notify() {
    scheduler_for(u"CActiveScheduler::notify()").notify(*this);
}

} // namespace foundation
