#pragma once
// Support for tests that broadcast for real: the body runs in a forked child
// inside a network namespace of its own, where the one interface is the
// loopback and nothing can leave the machine. The child reports by its exit
// code.

#include <cstdint>

namespace quorvane::testing {

enum ChildResult : int {
    PASSED = 0,
    NO_PERMISSION = 10,
    NO_IP_TOOL = 11,
    SETUP_FAILED = 12,
    FIRST_TEST_RESULT = 20,  // the codes a test's own body returns start here
};

// In the child: a network namespace with the loopback up, and with a default
// route over it when asked. PASSED or one of the codes above.
int EnterPrivateNetwork(bool withDefaultRoute);

// Runs `body` in a forked child that is ended after 30 s, skips the test
// where namespaces are not permitted, and expects PASSED, naming any other
// code by `describe`.
void ExpectPassesInChild(int (*body)(), const char* (*describe)(int));

// A socket bound to `address` port 4101, standing in for a device; -1 when
// it cannot be had.
int BindDeviceSocket(uint32_t address);

// Answers one 18-byte discovery request for every device, as a device with
// the example MAC would, and stores the requester's address in `sender`.
void AnswerOneDiscovery(int device, uint32_t& sender);

}  // namespace quorvane::testing
