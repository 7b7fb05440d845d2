#include "sharing/send_mail.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/file_system.h"

namespace sharing {

namespace {

// Bytes outside the unreserved set (and `keep`) as %XX.
std::string percent_encoded(const std::string& bytes, const char* keep) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved ||
            (byte != 0 && std::string_view(keep).find(char(byte)) != std::string::npos)) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 15]);
        }
    }
    return out;
}

} // namespace

std::string mail_link_for(const std::string& path) {
    // The attachment travels as a file URL in which every byte but letters, digits, "-._~" and
    // "/" is percent-encoded, so the name carries no comma, quote, blank, backslash or
    // wildcard. Mail programs that read the link decode it once and find that URL. xdg-email's
    // Thunderbird route decodes it once too, then hands the value on inside attachment='...'
    // of Thunderbird's comma-separated -compose list, where a plain path with a comma would be
    // split in two.
    const std::string url = "file://" + percent_encoded(path, "/");
    return "mailto:?attach=" + percent_encoded(url, "");
}

bool send_by_mail(const std::u16string& path) {
    if (path.empty())
        return false;
    const std::u16string device_path = foundation::expand(path);
    foundation::log() << "send_by_mail {" << device_path << "}\n";
    return platform::spawn_detached({"xdg-email", mail_link_for(foundation::to_utf8(device_path))});
}

} // namespace sharing
