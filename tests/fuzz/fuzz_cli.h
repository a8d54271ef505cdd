#pragma once
// Runs upgradectl's command line inside a fuzz process.

#include <vector>

#include "protocol/transport.h"

namespace quorvane::fuzz {

// Runs `upgradectl ARGS...` with the scratch folder as the working folder,
// no terminal to read and its output thrown away; `link`, when given,
// carries the device requests. Returns the exit code, checked to be one of
// the documented ones that need no socket (0 to 3).
int RunUpgradectl(std::vector<const char*> args, Transport* link = nullptr);

}  // namespace quorvane::fuzz
