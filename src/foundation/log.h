#pragma once

// The diagnostic log: off unless the registry value "Log" under
// "HKEY_CURRENT_USER\Software\Corvane" is non-zero, checked at every statement (the value is
// kept and read again only when the registry store has changed since, in any process). On, it
// writes UTF-16LE (with a byte-order mark) to the temporary folder's "<program file>.txt",
// created anew (emptied) whenever logging is switched on.
// Statements chain insertions and end their lines with "\n" themselves:
//     log() << "Document::stop ticks=" << ticks << "\n";
// Any thread may log; each insertion is one locked write.

#include <cstdint>
#include <string>
#include <string_view>

namespace foundation {

class LogStream {
public:
    virtual ~LogStream() = default;
    virtual void write(const char16_t* first, const char16_t* last) = 0;
    virtual void flush() = 0;

    LogStream& operator<<(const char16_t* text);
    LogStream& operator<<(const char* text);
    LogStream& operator<<(std::u16string_view text);
    LogStream& operator<<(const std::u16string& text) { return *this << std::u16string_view(text); }
    LogStream& operator<<(std::string_view text);
    LogStream& operator<<(int32_t value);
    LogStream& operator<<(uint32_t value);
    LogStream& operator<<(long value);
    LogStream& operator<<(unsigned long value);
    LogStream& operator<<(long long value);
    LogStream& operator<<(unsigned long long value);
    LogStream& operator<<(double value);
    LogStream& operator<<(bool value);
    LogStream& operator<<(const void* pointer);
};

LogStream& log();

// Writes "Gluck: " + message + " @ " + place, flushes the log and ends the process at once
// (exit code 0, no destructors): the exit for a broken internal protocol. The line also goes
// to standard error, so that it is not lost while logging is off.
[[noreturn]] void fatal_error(std::u16string_view place, std::u16string_view message);

// For a program of which one instance runs and later starts only hand their command line over
// (they share the log file): call before the first statement. Until start_log_anew(), the log
// file is appended to instead of emptied, and what this process logs is also kept in memory.
void defer_log_start();
// This process is the instance that runs: the log file is emptied and starts again with what
// this process has logged so far. Nothing when logging was not deferred.
void start_log_anew();

// Test seam: where the log file goes (empty restores the default path).
void set_log_path_for_testing(const std::u16string& path);

} // namespace foundation
