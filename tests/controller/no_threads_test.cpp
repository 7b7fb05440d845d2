// The engine where the system gives no new threads: every start fails cleanly, nothing hangs.

#include "controller/document.h"
#include "controller_env.h"
#include "foundation/active_scheduler.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>
#include <pthread.h>

namespace {

// Makes every new thread ask for a stack no system can give, for the life of the object.
class NoNewThreads {
public:
    NoNewThreads() {
        pthread_getattr_default_np(&m_saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, size_t(1) << 46);
        m_applied = pthread_setattr_default_np(&huge) == 0;
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() {
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }
    bool applied() const { return m_applied; }

private:
    pthread_attr_t m_saved;
    bool m_applied{false};
};

} // namespace

TEST(NoThreads, RecordingAndPlaybackFailInsteadOfEndingTheProgram) {
    testing_support::Watchdog watchdog(60);
    controller_test::IsolatedWorld world;
    testing_support::ScopedEnv audio("QUILLORY_AUDIO", "null");
    foundation::CActiveScheduler scheduler;
    NoNewThreads limit;
    if (!limit.applied())
        GTEST_SKIP() << "the default thread attributes cannot be changed here";
    {
        controller::Document document;
        EXPECT_FALSE(document.record(controller::RecordingKind::Note, u"", u"",
                                     telephony::CallDirection::None));
        EXPECT_FALSE(document.is_recording());
    }
}
