#pragma once
// The words for why a device failed its script: the one place that turns
// what the exchanges and the interpreter report into the text that the
// end-of-run line, the JSON report, the events and the boxes all show.

#include <chrono>
#include <string>
#include <string_view>

#include "app/return_check.h"
#include "package/restrictions.h"
#include "package/script_interpreter.h"
#include "protocol/exchange_failure.h"

namespace quorvane {

// "no answer to LOAD_VERIFY after 16 sends", "wrong echo of block 17
// (16 sends)", "LOAD_BLOCK could not be sent: Network is unreachable".
std::string ExchangeFailureText(const ExchangeFailure& failure);
// The same for every device fault: "the device reported checksum 0x9d,
// expected 0x9c", "LOAD_BEGIN refused: block size 0".
std::string DeviceFaultText(const DeviceFault& fault);
// "line 3 LOAD fw.bin: " and `cause`: the script line by its number, its
// keyword and the name or number after it. Without a line (the run failed
// before its first) the cause alone.
std::string ScriptFailureText(int lineNumber, std::string_view line, std::string_view cause);
// "waiting for LOAD_VERIFY, send 5 of 16".
std::string WaitingText(uint8_t opcode, int send, int of);

// Why the package passed over a device that answered: "02:00:00:00:00:04
// answered but DEVICEID 0xFC does not admit its port type 0x20".
std::string NotAdmittedText(const AdmissionRefusal& refusal, const Restrictions& restrictions);

// "Device 02:00:00:00:00:01 did not come back within 60 s after its reset".
std::string NotBackText(const MacAddress& mac, std::chrono::milliseconds limit);
// What the wait after the reset found: "firmware v QVN 4.0.2 06/03/15 ->
// v QVN 4.1.0 12/01/26", "firmware v QVN 4.0.2 06/03/15, unchanged"; empty
// when the device was not waited for or did not come back.
std::string ReturnText(const ReturnCheck& check);

}  // namespace quorvane
