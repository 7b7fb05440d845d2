#pragma once

#include <thread>

namespace platform {

// Priorities as the phone numbers them: 1 (highest) .. 5 (lowest), 3 normal. Mapped onto nice
// values of the thread; raising above normal needs privileges and is refused without them.
bool set_current_thread_priority(int priority);
bool set_thread_priority(std::thread::native_handle_type thread, int priority);

} // namespace platform
