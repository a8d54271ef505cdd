#include "tools/upgradectl/progress_bar.h"

#include <algorithm>
#include <ostream>

#include "app/display_text.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/text_table.h"
#include "tools/upgradectl/transfer_text.h"

namespace quorvane::cli {
namespace {

constexpr std::size_t BAR_WIDTH = 24;
// Besides each visible step of the bar, the rate and time left are brought up to date this often.
constexpr auto REDRAW_INTERVAL = std::chrono::seconds(1);

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
    labels_[index] = device_;
    line_.clear();
    waiting_.clear();
    transferring_ = false;
    Draw();
}

void ProgressBar::OnDeviceEnd(std::size_t index, bool succeeded) {
    EndDevice(index, succeeded ? "upgraded" : "failed");
}

void ProgressBar::EndDevice(std::size_t index, std::string_view result) {
    status_.Clear();
    const auto label = labels_.find(index);
    out_ << (label != labels_.end() ? label->second : device_) << ' ' << result << '\n' << std::flush;
}

void ProgressBar::OnLine(int lineNumber, std::string_view line) {
    line_ = "line " + std::to_string(lineNumber) + ": " + std::string(line);
    waiting_.clear();
    transferring_ = false;
    Draw();
}

void ProgressBar::OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) {
    Transfer({fileName, done, total, {}, {}});
}

void ProgressBar::Transfer(const TransferStep& step) {
    file_ = std::string(step.fileName);
    done_ = step.done;
    total_ = step.total;
    pace_ = step.pace;
    transferring_ = true;
    const bool waited = !waiting_.empty();
    waiting_.clear();
    // Redraw only when the bar visibly moves or the time left may have
    // changed: a transfer reports every block.
    const std::size_t percent =
        total_ == 0 ? 0 : static_cast<std::size_t>(std::min(done_, total_) * 100 / total_);
    const bool stale = std::chrono::steady_clock::now() - drawnAt_ >= REDRAW_INTERVAL;
    if (percent == drawnPercent_ && done_ != total_ && !stale && !waited) return;
    Draw();
}

void ProgressBar::Waiting(std::string_view waiting) {
    waiting_ = std::string(waiting);
    Draw();
}

void ProgressBar::Draw() {
    drawnAt_ = std::chrono::steady_clock::now();
    if (!waiting_.empty()) {
        // A bar at its last step would say nothing of the silence.
        drawnPercent_ = static_cast<std::size_t>(-1);
        // The wait first: on a narrow terminal it is what the line is for,
        // and the script line follows only where the whole of it fits.
        std::string text = device_ + "  " + waiting_;
        const std::string line = "  " + PrintableText(line_);
        if (!line_.empty() && CharacterCount(text) + CharacterCount(line) <= status_.Room()) text += line;
        status_.Show(text);
        return;
    }
    if (!transferring_) {
        drawnPercent_ = static_cast<std::size_t>(-1);
        status_.Show(line_.empty() ? device_ : device_ + "  " + line_);
        return;
    }
    drawnPercent_ = total_ == 0 ? 0 : static_cast<std::size_t>(std::min(done_, total_) * 100 / total_);
    const std::size_t room = status_.Room();
    const std::size_t used = CharacterCount(device_) + 1;
    std::string text =
        device_ + " " + TransferText(file_, done_, total_, pace_, BAR_WIDTH, room > used ? room - used : 0);
    // The script line follows where the whole of it fits.
    const std::string line = "  " + PrintableText(line_);
    if (!line_.empty() && CharacterCount(text) + CharacterCount(line) <= room) text += line;
    status_.Show(text);
}

}  // namespace quorvane::cli
