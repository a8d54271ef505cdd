#include "app/failure_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/mac_text.h"
#include "protocol/opcode_names.h"
#include "protocol/packet.h"
#include "res/string_format.h"
#include "res/string_ids.h"

namespace quorvane {
namespace {

std::string Hex2(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

// "0xFC", "0x1407": ids as the restriction file's readers write them.
std::string IdHex(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, value > 0xFF ? "0x%04X" : "0x%02X", value);
    return text;
}

// What a wrong echo was wrongly echoing: the block of a LOAD_BLOCK, the
// segment of an ERASE; the request itself where nothing is echoed.
std::string EchoSubject(const ExchangeFailure& failure) {
    const std::string number = failure.echo ? std::to_string(*failure.echo) : std::string();
    if (failure.opcode == OP_LOAD_BLOCK && failure.echo) return "block " + number;
    if (failure.opcode == OP_ERASE && failure.echo) return "segment " + number;
    return OpcodeName(failure.opcode);
}

// The first two words of the cleaned line: the keyword and the file name
// (or number) it works on; the addresses after them say nothing more.
std::string_view LineHead(std::string_view line) {
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) return line;
    const std::size_t second = line.find(' ', first + 1);
    return second == std::string_view::npos ? line : line.substr(0, second);
}

}  // namespace

std::string ExchangeFailureText(const ExchangeFailure& failure) {
    const std::string request = OpcodeName(failure.opcode);
    const std::string sends = std::to_string(failure.sends);
    switch (failure.fault) {
        case ExchangeFault::None:
            return {};
        case ExchangeFault::NoAnswer:
            return FormatPlaceholders(IDS_FAULT_NO_ANSWER, {request, sends});
        case ExchangeFault::WrongReply:
            if (failure.echo) return FormatPlaceholders(IDS_FAULT_WRONG_ECHO, {EchoSubject(failure), sends});
            return FormatPlaceholders(IDS_FAULT_WRONG_REPLY, {request, sends});
        case ExchangeFault::NotSent:
            return FormatPlaceholders(IDS_FAULT_NOT_SENT,
                                      {request, failure.systemError != 0 ? std::strerror(failure.systemError)
                                                                         : "the system refused it"});
        case ExchangeFault::TooLarge:
            return FormatPlaceholders(IDS_FAULT_NOT_SENT, {request, "the request does not fit a datagram"});
    }
    return {};
}

std::string DeviceFaultText(const DeviceFault& fault) {
    switch (fault.kind) {
        case DeviceFault::Kind::Exchange:
            return ExchangeFailureText(fault.exchange);
        case DeviceFault::Kind::Checksum:
            return FormatPlaceholders(IDS_FAULT_CHECKSUM, {Hex2(fault.reported), Hex2(fault.expected)});
        case DeviceFault::Kind::BlockSize: {
            std::string text = FormatPlaceholders(
                IDS_FAULT_BLOCK_SIZE, {OpcodeName(OP_LOAD_BEGIN), std::to_string(fault.blockSize)});
            // A size the device offered but this program cannot use says what it can.
            if (fault.blockSize != 0)
                text += " (blocks of 1 to " + std::to_string(LOAD_BUFFER) + " bytes, at most " +
                        std::to_string(MAX_BLOCK_NUMBER) + " of them, can be sent)";
            return text;
        }
    }
    return {};
}

std::string ScriptFailureText(int lineNumber, std::string_view line, std::string_view cause) {
    if (lineNumber <= 0) return std::string(cause);
    std::string text = "line " + std::to_string(lineNumber);
    const std::string_view head = LineHead(line);
    if (!head.empty()) text.append(" ").append(head);
    return text.append(": ").append(cause);
}

std::string NotAdmittedText(const AdmissionRefusal& refusal, const Restrictions& restrictions) {
    const std::string mac = refusal.record != nullptr ? FormatMac(refusal.record->mac) : std::string();
    switch (refusal.reason) {
        case AdmissionRefusal::Reason::NoInformation:
            return mac + " answered the discovery but not the information query";
        case AdmissionRefusal::Reason::Vendor:
            return mac + " answered but VENDORID " + IdHex(restrictions.wantedVendorId) +
                   " does not admit its vendor id " + IdHex(refusal.value);
        case AdmissionRefusal::Reason::DeviceId: {
            std::string list;
            for (std::size_t i = 0; i < restrictions.deviceIdCount; ++i)
                list += (i == 0 ? "" : ", ") + IdHex(restrictions.deviceIdList[i]);
            return mac + " answered but DEVICEID " + list + " does not admit its port type " +
                   IdHex(refusal.value);
        }
    }
    return {};
}

std::string WaitingText(uint8_t opcode, int send, int of) {
    return FormatPlaceholders(IDS_WAITING_FOR_ANSWER,
                              {OpcodeName(opcode), std::to_string(send), std::to_string(of)});
}

std::string NotBackText(const MacAddress& mac, std::chrono::milliseconds limit) {
    // Whole seconds as the option gives them; a limit below one is still "1 s".
    const auto seconds = std::max<long long>(1, (limit.count() + 999) / 1000);
    return FormatPlaceholders(IDS_NOT_BACK, {FormatMac(mac), std::to_string(seconds)});
}

std::string ReturnText(const ReturnCheck& check) {
    if (check.outcome == ReturnOutcome::Verified)
        return FormatPlaceholders(IDS_FIRMWARE_CHANGED, {check.firmwareBefore, check.firmwareAfter});
    if (check.outcome == ReturnOutcome::Unchanged)
        return FormatPlaceholders(IDS_FIRMWARE_UNCHANGED, {check.firmwareBefore});
    return {};
}

}  // namespace quorvane
