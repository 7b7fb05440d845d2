#pragma once

// Registry change notifications that start a program, kept in the registry store's database
// (registry_store.h) so that they outlive the process and fire for a write made by any process
// through the store. All functions may be called from any thread.

#include "platform/registry_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Change notifications that start a program. A write through the store that makes the
// registered condition true (it did not hold before the write) launches the command line,
// detached. The command line is split into words as split_command_line does (a command it
// cannot split is not accepted); it runs directly (no shell). Without RNAF_NONAMEONCMDLINE in
// `flags` the notification's name is appended as a last word. Registrations live in the store and
// outlive the process.
enum class RegistryCondition : uint32_t {
    AnyChange = 0, // the value changed (written with another content, or deleted)
    Equal = 1,     // (value & mask) == target
    NotEqual = 2,
    Greater = 3,
    GreaterOrEqual = 4,
    Less = 5,
    LessOrEqual = 6,
};
enum : uint32_t { RNAF_NONAMEONCMDLINE = 1 };

struct RegistryNotification {
    std::string name; // unique
    RegistryRoot root{RegistryRoot::None};
    std::string key;
    std::string value_name;
    std::string command;
    uint32_t flags{0};
    RegistryCondition condition{RegistryCondition::AnyChange};
    uint32_t mask{0xFFFFFFFF}; // for number comparisons
    uint32_t target{0};
};

// Result codes of the notification calls, as the phone's shell returned them.
enum : uint32_t {
    REG_NOTIFY_OK = 0,
    REG_NOTIFY_ALREADY_EXISTS = 0x800704DA,
    REG_NOTIFY_NOT_FOUND = 0x80070002,
    REG_NOTIFY_INVALID = 0x80070057,
    REG_NOTIFY_FAILED = 0x80004005,
};

[[nodiscard]] uint32_t registry_notify_app(const RegistryNotification& notification);
uint32_t registry_stop_notification(const std::string& name);
std::vector<RegistryNotification> registry_notifications();

} // namespace platform
