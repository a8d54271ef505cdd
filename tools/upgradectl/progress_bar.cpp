#include "tools/upgradectl/progress_bar.h"

#include <algorithm>
#include <ostream>

#include "protocol/mac_text.h"

namespace quorvane::cli {
namespace {

constexpr std::size_t BAR_WIDTH = 24;

}  // namespace

std::string ProgressBar::Bar(uint64_t done, uint64_t total, std::size_t width) {
    const uint64_t shown = total == 0 ? width : std::min<uint64_t>(done, total) * width / total;
    const uint64_t percent = total == 0 ? 100 : std::min<uint64_t>(done, total) * 100 / total;
    std::string bar = std::string("[") + std::string(shown, '#') + std::string(width - shown, '-') + "] ";
    const std::string number = std::to_string(percent);
    return bar + std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%";
}

void ProgressBar::OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) {
    device_ = std::string("[") + std::to_string(index + 1) + "/" + std::to_string(count) + " " +
              FormatMac(record.mac) + "]";
    line_.clear();
    transferring_ = false;
    Draw();
}

void ProgressBar::OnDeviceEnd(std::size_t, bool succeeded) {
    EndDevice(succeeded ? "upgraded" : "failed");
}

void ProgressBar::EndDevice(std::string_view result) {
    status_.Clear();
    out_ << device_ << ' ' << result << '\n' << std::flush;
}

void ProgressBar::OnLine(int lineNumber, std::string_view line) {
    line_ = "line " + std::to_string(lineNumber) + ": " + std::string(line);
    transferring_ = false;
    Draw();
}

void ProgressBar::OnTransfer(std::string_view, uint64_t done, uint64_t total) {
    done_ = done;
    total_ = total;
    transferring_ = true;
    // Redraw only when the bar visibly moves: a transfer reports every block.
    const std::size_t percent =
        total == 0 ? 0 : static_cast<std::size_t>(std::min(done, total) * 100 / total);
    if (percent == drawnPercent_ && done != total) return;
    Draw();
}

void ProgressBar::Draw() {
    std::string text = device_;
    if (transferring_) {
        text.append(" ").append(Bar(done_, total_, BAR_WIDTH)).append(" ");
        text.append(std::to_string(done_)).append("/").append(std::to_string(total_));
        drawnPercent_ = total_ == 0 ? 0 : static_cast<std::size_t>(std::min(done_, total_) * 100 / total_);
    } else {
        drawnPercent_ = static_cast<std::size_t>(-1);
    }
    if (!line_.empty()) text += "  " + line_;
    status_.Show(text);
}

}  // namespace quorvane::cli
