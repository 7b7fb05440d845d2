#pragma once

// How the program meets the system's requests to end.

namespace platform {

// From now on a hang-up (the terminal closed, the session ended) is handled as a request to
// terminate: whatever handles SIGTERM at that moment handles it, so a recording is completed
// and the exit status is the one a TERM gives.
void treat_hangup_as_termination();

} // namespace platform
