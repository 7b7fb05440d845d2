#pragma once

// Handing a record to the platform's mail program ("xdg-email --attach PATH"), which opens a
// new message with the record attached; the user picks the recipient there.

#include <string>

namespace sharing {

// Expands the path's macros and starts the mail program with it as the attachment. Returns
// whether the program could be started; what it does afterwards is not examined. An empty path
// starts nothing.
bool send_by_mail(const std::u16string& path);

} // namespace sharing
