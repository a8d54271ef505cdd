#pragma once
// What the user reads when the UDP endpoint does not start, in the desktop
// program's box and on upgradectl's stderr alike: IDS_SOCKETS_FAILED and the
// operating system's reason.

#include <string>

namespace quorvane {

// "Network initialization failed. Address already in use"; IDS_SOCKETS_FAILED
// alone when `systemError` is 0 (no reason known).
std::string EndpointFailureText(int systemError);

}  // namespace quorvane
