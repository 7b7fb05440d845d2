#include "sharing/send_mail.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/file_system.h"

namespace sharing {

bool send_by_mail(const std::u16string& path) {
    if (path.empty())
        return false;
    const std::u16string device_path = foundation::expand(path);
    foundation::log() << "send_by_mail {" << device_path << "}\n";
    return platform::spawn_detached({"xdg-email", "--attach", foundation::to_utf8(device_path)});
}

} // namespace sharing
