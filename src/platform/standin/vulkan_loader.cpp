// A stand-in for the Vulkan loader, loaded by SDL in place of libvulkan so that SDL makes a
// Wayland window that no graphics API draws: without it SDL starts EGL (Mesa, with LLVM when
// there is no GPU) for every Wayland window, though the display shows its frames through shared
// memory (display_shm.h). It answers only what SDL asks before making such a window: the
// instance extensions, which name the surface extensions SDL checks for. Nothing creates a
// Vulkan instance through it.

#include <cstdint>
#include <cstring>

namespace {

// VkExtensionProperties.
struct ExtensionProperties {
    char name[256];
    uint32_t version;
};

constexpr int32_t success = 0;    // VK_SUCCESS
constexpr int32_t incomplete = 5; // VK_INCOMPLETE

int32_t enumerate_instance_extensions(const char*, uint32_t* count, ExtensionProperties* out) {
    static const char* const names[] = {"VK_KHR_surface", "VK_KHR_wayland_surface"};
    constexpr uint32_t total = sizeof names / sizeof names[0];
    if (!count)
        return incomplete;
    if (!out) {
        *count = total;
        return success;
    }
    const uint32_t written = *count < total ? *count : total;
    for (uint32_t i = 0; i < written; ++i) {
        std::memset(&out[i], 0, sizeof out[i]);
        std::strncpy(out[i].name, names[i], sizeof out[i].name - 1);
        out[i].version = 1;
    }
    *count = written;
    return written < total ? incomplete : success;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void* vkGetInstanceProcAddr(void*,
                                                                              const char* name) {
    if (name && std::strcmp(name, "vkEnumerateInstanceExtensionProperties") == 0)
        return reinterpret_cast<void*>(&enumerate_instance_extensions);
    return nullptr;
}
