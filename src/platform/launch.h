#pragma once

// Starting another program with an argument list, without a shell in between: every argument
// reaches the program whole, blanks and quotes included.

#include <string>
#include <vector>

namespace platform {

// Starts `program` (looked up in PATH when it has no "/") detached: the call does not wait for
// it, and it is reaped so that it leaves no zombie. False when it could not be started.
bool launch_program(const std::u16string& program, const std::vector<std::u16string>& arguments);

} // namespace platform
