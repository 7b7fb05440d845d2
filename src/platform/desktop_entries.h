#pragma once

// The desktop's handlers for documents: xdg-mime's answers and the handlers' desktop entries
// (found by id in the XDG data folders). Paths are UTF-8.

#include <string>
#include <vector>

namespace platform {

// The command that opens the document with the desktop's handler for its type, with `extra`
// words after the handler's own: from xdg-mime's answers and the handler's desktop entry (its
// Exec line, file field codes given the path). Without extra words, or when no handler is
// known, "xdg-open PATH" (which then carries no extra words).
std::vector<std::string> document_command(const std::string& path,
                                          const std::vector<std::string>& extra);

} // namespace platform
