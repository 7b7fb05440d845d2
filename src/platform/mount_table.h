#pragma once

// The volumes mounted for this process (/proc/self/mountinfo). Paths are UTF-8.

#include <string>
#include <vector>

namespace platform {

// Mount points of removable-looking volumes: those directly under /media/$USER,
// /run/media/$USER or /media (never /media/$USER itself), in mount order.
std::vector<std::string> removable_mount_points();

} // namespace platform
