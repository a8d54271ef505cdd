#include "app/return_check.h"

#include "app/column_text.h"
#include "package/device_summary.h"

namespace quorvane {

const char* ReturnWord(ReturnOutcome outcome) {
    switch (outcome) {
        case ReturnOutcome::Off: return "off";
        case ReturnOutcome::NotReset: return "not-reset";
        case ReturnOutcome::Verified: return "verified";
        case ReturnOutcome::Unchanged: return "unchanged";
        case ReturnOutcome::Missing: return "missing";
    }
    return "off";
}

std::string FirmwareTextOf(DeviceRecord& record) {
    const AdmittedDevice device = WithSummary(record);
    std::string text;
    DeviceColumnText(&device, text, KEY_FIRMWARE);
    return text;
}

ReturnCheck AwaitReturn(DeviceProtocol& protocol, DeviceRecord& record, const std::string& firmwareBefore,
                        std::chrono::milliseconds limit, const std::function<bool()>& stopRequested) {
    ReturnCheck check;
    check.firmwareBefore = firmwareBefore;
    check.outcome = ReturnOutcome::Missing;
    Transport& link = protocol.Link();
    const auto start = link.Now();
    while (link.Now() - start < limit) {
        if (stopRequested && stopRequested()) {
            check.outcome = ReturnOutcome::Off;  // upgraded, but not seen back: not checked
            break;
        }
        const auto asked = link.Now();
        if (!protocol.QueryInfoOnce(record)) {
            // An unanswered query lasts one receive wait; one that took no
            // time was never sent, and asking again would only spin.
            if (link.Now() == asked) break;
            continue;
        }
        check.firmwareAfter = FirmwareTextOf(record);
        check.outcome = check.firmwareAfter == firmwareBefore ? ReturnOutcome::Unchanged : ReturnOutcome::Verified;
        break;
    }
    check.waited = link.Now() - start;
    return check;
}

}  // namespace quorvane
