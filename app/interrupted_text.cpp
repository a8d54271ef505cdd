#include "app/interrupted_text.h"

#include <cctype>

#include "protocol/mac_text.h"
#include "res/string_format.h"
#include "res/string_table.h"

namespace quorvane {

std::vector<std::string> InterruptedLines(const RunModel& model) {
    std::vector<std::string> lines;
    std::string notStarted;
    for (const DeviceResult& device : model.devices) {
        const std::string mac = FormatMac(device.record->mac);
        // Devices run side by side may leave gaps: a device never started has no attempt.
        if (!device.Started() && device.state != DeviceState::Current) notStarted += (notStarted.empty() ? "" : ", ") + mac;
        if (device.state == DeviceState::Interrupted) lines.push_back(FormatPlaceholders(IDS_LEFT_MID_SCRIPT, {mac}));
    }
    if (lines.empty()) lines.push_back(LoadString(IDS_NONE_LEFT_MID_SCRIPT));
    if (!notStarted.empty()) lines.push_back(FormatPlaceholders(IDS_NOT_STARTED, {notStarted}));
    return lines;
}

std::string StoppingText(StopNotice where) {
    std::string text = LoadString(IDS_STOPPING);
    if (where == StopNotice::Window) return text;
    // The line goes on, so the ellipsis of the window's notice goes.
    while (!text.empty() && text.back() == '.') text.pop_back();
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text + "; press Ctrl-C again to end at once";
}

}  // namespace quorvane
