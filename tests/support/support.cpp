#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    std::random_device random;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("qv-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name))
        m_old = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

FileAudio::FileAudio(int times)
    : audio("QUILLORY_AUDIO", "file"),
      input("QUILLORY_AUDIO_IN", std::string(QV_SOURCE_DIR) + "/tests/data/controller/speech.wav"),
      output("QUILLORY_AUDIO_OUT", ""), speed("QUILLORY_AUDIO_SPEED", std::to_string(times)) {}

Watchdog::Watchdog(int seconds, std::string what) {
    m_thread = std::thread([this, seconds, what = std::move(what)] {
        std::unique_lock lock(m_mutex);
        if (!m_done_changed.wait_for(lock, std::chrono::seconds(seconds),
                                     [this] { return m_done; })) {
            std::fprintf(stderr, "watchdog: %s still running after %d s, failing\n", what.c_str(),
                         seconds);
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
}

Watchdog::~Watchdog() {
    std::unique_lock lock(m_mutex);
    m_done = true;
    lock.unlock();
    m_done_changed.notify_all();
    m_thread.join();
}

} // namespace testing_support
