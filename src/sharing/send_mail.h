#pragma once

// Handing a record to the platform's mail program (xdg-email with a "mailto:?attach=" link to
// the file), which opens a new message with the record attached; the user picks the recipient
// there.

#include <string>

namespace sharing {

// Expands the path's macros and starts the mail program with it as the attachment. Returns
// whether the program could be started; what it does afterwards is not examined. An empty path
// starts nothing.
bool send_by_mail(const std::u16string& path);

// The mailto link that attaches the file at `path` (an absolute path, in bytes) whole, whatever
// its name holds, with every mail program xdg-email hands it to.
std::string mail_link_for(const std::string& path);

} // namespace sharing
