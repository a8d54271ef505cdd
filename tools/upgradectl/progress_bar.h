#pragma once
// A per-device progress line on the terminal: which device, which script
// line, and the current LOAD or READ: file, bar, bytes, rate and time left.
// On a narrow terminal the bar narrows and then the file name's middle
// gives way, so that the file name stays in sight.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "app/upgrade_command.h"
#include "tools/upgradectl/status_line.h"

namespace quorvane::cli {

class ProgressBar final : public UpgradeProgress {
public:
    ProgressBar(StatusLine& status, std::ostream& out) : status_(status), out_(out) {}

    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override;
    void OnDeviceEnd(std::size_t index, bool succeeded) override;
    void OnLine(int lineNumber, std::string_view line) override;
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override;
    // A transfer step with its pace.
    void Transfer(const TransferStep& step);
    // Ends device `index`'s line with `result` ("upgraded", "failed: why",
    // "interrupted"). Run in turn, a device waited for after its RESET ends
    // while the next one is drawn: the line names the device that ended,
    // and the one under way is drawn again at its next step (not at once:
    // a question may be open on the line below).
    void EndDevice(std::size_t index, std::string_view result);
    // The exchange under way is sent again: `waiting` takes the bar's
    // place until the next step (empty: it was answered).
    void Waiting(std::string_view waiting);

    // The bar alone, e.g. "[#####-----]  50%"; exposed for tests.
    static std::string Bar(uint64_t done, uint64_t total, std::size_t width);

private:
    void Draw();

    StatusLine& status_;
    std::ostream& out_;
    std::string device_;                         // "[1/3 00:50:c2:00:00:01]", the device drawn
    std::map<std::size_t, std::string> labels_;  // each started device's device_
    std::string line_;    // "line 4: LOAD FIRMWARE.BIN 0x10:0"
    std::string file_;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    TransferPace pace_;
    bool transferring_ = false;
    std::string waiting_;
    std::size_t drawnPercent_ = static_cast<std::size_t>(-1);
    std::chrono::steady_clock::time_point drawnAt_{};
};

}  // namespace quorvane::cli
