#include "foundation/log.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/threads.h"
#include "platform/file_handle.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace foundation {

namespace {

class NullStream : public LogStream {
public:
    void write(const char16_t*, const char16_t*) override {}
    void flush() override {}
};

// Writes UTF-16LE; each write and flush is one locked step. retire() closes the file for
// good: a thread still holding the stream after a replacement then writes nothing.
//
// A deferred stream (a start that may only hand its command line over) appends to the file
// instead and keeps a copy of what it writes until restart() makes the file anew with it.
class FileStream : public LogStream {
public:
    FileStream(const std::string& path, bool deferred) : m_deferred(deferred) {
        m_file = platform::FileHandle::open(path,
                                            deferred ? platform::FileHandle::AppendAtEnd
                                                     : platform::FileHandle::WriteNewAtEnd,
                                            true);
        if (m_file && m_file->size() == 0)
            m_file->write(bom, 2);
    }

    void write(const char16_t* first, const char16_t* last) override {
        if (first >= last)
            return;
        std::vector<unsigned char> bytes;
        bytes.reserve(size_t(last - first) * 2);
        for (const char16_t* c = first; c != last; ++c) {
            bytes.push_back(static_cast<unsigned char>(*c & 0xFF));
            bytes.push_back(static_cast<unsigned char>(*c >> 8));
        }
        std::lock_guard lock(m_lock);
        if (m_deferred && m_kept.size() + bytes.size() <= max_kept_bytes)
            m_kept.insert(m_kept.end(), bytes.begin(), bytes.end());
        if (m_file)
            m_file->write(bytes.data(), uint32_t(bytes.size()));
    }

    // Empties the file and writes what was kept; the stream is an ordinary one from now on.
    void restart() {
        std::lock_guard lock(m_lock);
        if (!m_deferred)
            return;
        m_deferred = false;
        if (m_file && m_file->seek(0) && m_file->truncate_here()) {
            m_file->write(bom, 2);
            if (!m_kept.empty())
                m_file->write(m_kept.data(), uint32_t(m_kept.size()));
        }
        m_kept.clear();
        m_kept.shrink_to_fit();
    }

    void flush() override {
        std::lock_guard lock(m_lock);
        if (m_file)
            m_file->flush();
    }

    void retire() {
        std::lock_guard lock(m_lock);
        m_file.reset();
    }

private:
    static constexpr unsigned char bom[2] = {0xFF, 0xFE};
    static constexpr size_t max_kept_bytes = 256 * 1024;

    CriticalSection m_lock;
    std::unique_ptr<platform::FileHandle> m_file;
    bool m_deferred;
    std::vector<unsigned char> m_kept;
};

struct LogState {
    std::mutex mutex;
    LogStream* stream{nullptr};
    bool stream_on{false};
    // Streams are never freed: a thread may still hold one that was just replaced.
    std::vector<std::unique_ptr<LogStream>> all_streams;
    std::u16string test_path;
    // A start that may only hand its command line over appends to the shared file.
    bool deferred{false};

    std::mutex switch_mutex;
    bool switch_known{false};
    bool switch_on{false};
    platform::RegistryStamp switch_stamp;
};

LogState& state() {
    static LogState* s = new LogState(); // lives until the process ends
    return *s;
}

// The "Log" switch, read again only when the registry store may have changed since.
bool switch_is_on() {
    LogState& s = state();
    std::lock_guard lock(s.switch_mutex);
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::RegistryStamp before = platform::registry_stamp();
        if (s.switch_known && before == s.switch_stamp)
            return s.switch_on;
        uint32_t value = 0;
        bool on = platform::registry_read_dword(platform::RegistryRoot::CurrentUser,
                                                "Software\\Corvane", "Log", value) &&
                  value != 0;
        platform::RegistryStamp after = platform::registry_stamp();
        s.switch_on = on;
        if (before == after) {
            s.switch_stamp = after;
            s.switch_known = true;
            return on;
        }
    }
    s.switch_known = false;
    return s.switch_on;
}

// May end the process (a program path over the limit), so it runs outside the state's lock.
std::string log_file_path(const std::u16string& test_path) {
    if (!test_path.empty())
        return to_utf8(test_path);
    return platform::temp_directory() + "/" + to_utf8(expand(u"%app_name%")) + ".txt";
}

void put(LogStream& stream, std::u16string_view text) {
    stream.write(text.data(), text.data() + text.size());
}

void put_ascii(LogStream& stream, const char* text) {
    char16_t wide[64];
    size_t n = 0;
    while (text[n] && n < 64) {
        wide[n] = char16_t(static_cast<unsigned char>(text[n]));
        ++n;
    }
    stream.write(wide, wide + n);
}

} // namespace

LogStream& LogStream::operator<<(const char16_t* text) {
    if (text)
        put(*this, std::u16string_view(text));
    return *this;
}

LogStream& LogStream::operator<<(const char* text) {
    if (text)
        *this << std::string_view(text);
    return *this;
}

LogStream& LogStream::operator<<(std::u16string_view text) {
    put(*this, text);
    return *this;
}

LogStream& LogStream::operator<<(std::string_view text) {
    std::u16string wide = widen(text);
    put(*this, wide);
    return *this;
}

LogStream& LogStream::operator<<(int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%u", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%ld", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(unsigned long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%lu", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%lld", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(unsigned long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%llu", value);
    put_ascii(*this, buffer);
    return *this;
}

LogStream& LogStream::operator<<(double value) {
    put(*this, to_text(value));
    return *this;
}

LogStream& LogStream::operator<<(bool value) {
    put_ascii(*this, value ? "true" : "false");
    return *this;
}

LogStream& LogStream::operator<<(const void* pointer) {
    return *this << static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer));
}

LogStream& log() {
    bool on = switch_is_on();
    LogState& s = state();
    std::u16string test_path;
    {
        std::lock_guard lock(s.mutex);
        if (s.stream && s.stream_on == on)
            return *s.stream;
        test_path = s.test_path;
    }
    std::string path = on ? log_file_path(test_path) : std::string();
    std::lock_guard lock(s.mutex);
    if (s.stream && s.stream_on == on)
        return *s.stream;
    if (s.stream && s.stream_on)
        static_cast<FileStream*>(s.stream)->retire();
    std::unique_ptr<LogStream> stream;
    if (on)
        stream = std::make_unique<FileStream>(path, s.deferred);
    else
        stream = std::make_unique<NullStream>();
    s.stream = stream.get();
    s.stream_on = on;
    s.all_streams.push_back(std::move(stream));
    return *s.stream;
}

void fatal_error(std::u16string_view place, std::u16string_view message) {
    std::fprintf(stderr, "Gluck: %s @ %s\n", to_utf8(message).c_str(), to_utf8(place).c_str());
    LogStream& stream = log();
    stream << "Gluck: " << message << " @ " << place << "\n";
    stream.flush();
    std::_Exit(0);
}

void defer_log_start() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.deferred = true;
}

void start_log_anew() {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.deferred)
        return;
    s.deferred = false;
    if (s.stream && s.stream_on)
        static_cast<FileStream*>(s.stream)->restart();
}

void set_log_path_for_testing(const std::u16string& path) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.test_path = path;
    // The next statement makes a new stream on the new path.
    if (s.stream && s.stream_on)
        static_cast<FileStream*>(s.stream)->retire();
    s.stream = nullptr;
}

} // namespace foundation
