#include "controller/document.h"
#include "controller/settings.h"
#include "controller_env.h"
#include "foundation/active_scheduler.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/messages.h"
#include "platform/registry_notifications.h"
#include "support/process.h"
#include "support/watchdog.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

using namespace controller;
using controller_test::IsolatedWorld;

TEST(Settings, FirstStartDefaultsAndDamagedValues) {
    IsolatedWorld world;
    Settings fresh;
    fresh.load_first();
    fresh.load_secondary();
    EXPECT_FALSE(fresh.auto_record);
    EXPECT_EQ(fresh.format, u"Mp3Middle");
    EXPECT_EQ(fresh.volume, 1.0);
    EXPECT_FALSE(hardware_speaker_on());

    // Values another program or an old version left: what cannot be taken gives the default.
    const auto key = settings_key();
    foundation::write_dword(key, u"Volume", 524288);
    foundation::write_string(key, u"Boost", u"boost1");
    foundation::write_dword(key, u"VasLevel", 0xFFFFFFFF);
    foundation::write_string(key, u"Speaker", u"not a number");
    Settings stored;
    stored.load_first();
    stored.load_secondary();
    EXPECT_EQ(stored.volume, 0.5);
    EXPECT_EQ(boost_gain_for(stored.boost), 1) << "names compare exactly";
    EXPECT_EQ(quality_for(u"mp3high").bit_rate, quality_for(u"").bit_rate);
    EXPECT_EQ(stored.vas_level, 1.0) << "an out-of-range threshold is clamped";
    EXPECT_FALSE(stored.speaker);
    EXPECT_EQ(to_fixed_point(-3), 0u);

    foundation::write_dword(u"HKEY_LOCAL_MACHINE\\System\\State\\Hardware", u"Speaker", 2);
    EXPECT_TRUE(hardware_speaker_on());
}

TEST(Settings, DocumentAppliesAndSavesThem) {
    testing_support::Watchdog watchdog(60);
    IsolatedWorld world;
    foundation::write_string(settings_key(), u"Boost", u"Boost2");
    foundation::write_dword(settings_key(), u"VasLevel", 104857);
    foundation::write_dword(settings_key(), u"Volume", 786432);
    foundation::CActiveScheduler scheduler;
    Document document;
    EXPECT_NEAR(document.vas_level(), 0.1, 1e-6);
    EXPECT_EQ(document.settings().boost, u"Boost2");
    document.load_secondary_things();
    EXPECT_EQ(document.volume(), 0.75);
    EXPECT_FALSE(document.settings().auto_record);

    ASSERT_TRUE(document.set_auto_record(true));
    const auto notifications = platform::registry_notifications();
    EXPECT_TRUE(std::any_of(notifications.begin(), notifications.end(), [](const auto& n) {
        return n.name == "Quillory Vozir.Call" &&
               n.command.find("quillory\" call") != n.command.npos;
    }));
    document.set_volume(0.5);
    document.set_vas_level(0);
    document.save_settings();
    for (const auto& [name, expected] :
         {std::pair{u"Volume", 524288u}, {u"VasLevel", 0u}, {u"AutoRecord", 1u}}) {
        uint32_t value = 99;
        foundation::read_dword(settings_key(), name, value);
        EXPECT_EQ(value, expected) << foundation::to_utf8(name);
    }
    ASSERT_TRUE(document.set_auto_record(false));
    EXPECT_TRUE(platform::registry_notifications().empty());
}

TEST(Settings, BackgroundScanFindsRecordsOneEventEach) {
    testing_support::Watchdog watchdog(60);
    IsolatedWorld world;
    std::filesystem::create_directories(world.main_folder() / "Outgoing");
    for (auto name : {"a.mp3", "b.wav", "Outgoing/c.MP3", "notes.txt", "empty.mp3"})
        std::ofstream(world.main_folder() / name)
            << (std::string(name) == "empty.mp3" ? "" : "data");
    foundation::CActiveScheduler scheduler;
    Document document;
    struct Found : DocumentListener {
        int events = 0;
        void on_document_event(DocumentEvent event, int) override {
            if (event == DocumentEvent::RecordFound)
                ++events;
        }
    } found;
    document.add_listener(&found);
    document.load_secondary_things();
    testing_support::wait_for([&] {
        for (platform::Message message; platform::peek_message(message);)
            platform::dispatch_message(message);
        return !document.scanning();
    });
    EXPECT_EQ(found.events, 3);
    EXPECT_EQ(document.records().size(), 3u);
    document.remove_listener(&found);
}
