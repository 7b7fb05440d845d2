#include "sharing/send_mail.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "platform/launch.h"

namespace sharing {

bool send_by_mail(const std::u16string& path) {
    if (path.empty())
        return false;
    const std::u16string device_path = foundation::expand(path);
    foundation::log() << "send_by_mail {" << device_path << "}\n";
    return platform::launch_program(u"xdg-email", {u"--attach", device_path});
}

} // namespace sharing
