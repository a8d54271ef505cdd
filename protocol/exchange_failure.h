#pragma once
// Why one command exchange with a device ended without its answer, as a
// value the caller words for the user, and the hook that hears every send
// of an exchange while it waits.

#include <cstdint>
#include <optional>

namespace quorvane {

enum class ExchangeFault {
    None,        // answered
    NoAnswer,    // every send's wait passed without a reply of the device
    WrongReply,  // the device replied, but never with the answer asked for
    NotSent,     // the platform refused a send; `systemError` says why
    TooLarge,    // the request does not fit a datagram and was never sent
};

struct ExchangeFailure {
    ExchangeFault fault = ExchangeFault::None;
    uint8_t opcode = 0;  // the request's
    int sends = 0;       // requests that went out, the first one included
    uint64_t wrongReplies = 0;
    // The value the reply had to echo: the block of a LOAD_BLOCK, the
    // segment of an ERASE.
    std::optional<uint16_t> echo;
    int systemError = 0;  // errno of a refused send, when the platform told one

    bool Failed() const { return fault != ExchangeFault::None; }
};

// Told of every send of an exchange, the first included (`send` from 1 of
// `of`), after it went out: a send after the first means the exchange is
// still waiting for its answer.
class SendListener {
public:
    virtual ~SendListener() = default;
    virtual void OnSend(uint8_t opcode, int send, int of) = 0;
};

}  // namespace quorvane
