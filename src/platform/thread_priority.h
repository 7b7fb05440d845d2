#pragma once

#include <string>
#include <thread>

namespace platform {

// Priorities as the phone numbers them: 1 (highest) .. 5 (lowest), 3 normal. Mapped onto nice
// values of the thread; raising above normal needs privileges and is refused without them.
bool set_current_thread_priority(int priority);
bool set_thread_priority(std::thread::native_handle_type thread, int priority);

// For a thread that must never miss the sound device: real-time scheduling (round robin, not
// inherited by children) where the process may set it, else through RealtimeKit on the system
// bus, else the highest nice value allowed. Returns how it went, for the log ("realtime",
// "realtime by RealtimeKit", "nice -11", "normal").
std::string make_current_thread_realtime();

// The name the system shows for the calling thread (in /proc and debuggers), cut to 15 bytes.
void set_current_thread_name(const std::string& name);

} // namespace platform
