// quillory-phoned: follows the modem's voice calls through ModemManager and writes the phone
// state the recorder reads, so that calls on a Linux phone are seen (and, with automatic call
// recording on, recorded) as the phone simulator's are.

#include "foundation/number.h"
#include "platform/modem_watch.h"
#include "telephony/call_bridge.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int usage(std::FILE* out, int status) {
    std::fprintf(out, "usage: quillory-phoned [--grace SECONDS]\n"
                      "Writes ModemManager's voice calls into the recorder's phone state.\n"
                      "  --grace SECONDS  how long calls are kept while ModemManager restarts "
                      "(default 10)\n");
    return status;
}

} // namespace

int main(int argc, char** argv) {
    platform::ModemWatchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return usage(stdout, 0);
        if (arg == "--grace" && i + 1 < argc) {
            const double seconds = foundation::parse_number<double>(argv[++i]).value_or(-1);
            if (!(seconds >= 0 && seconds <= 3600))
                return usage(stderr, 2);
            options.grace_ms = int(seconds * 1000);
            continue;
        }
        return usage(stderr, 2);
    }
    telephony::CallBridge bridge;
    platform::ModemWatch watch(bridge, options);
    watch.run();
    bridge.withdraw();
    return 0;
}
