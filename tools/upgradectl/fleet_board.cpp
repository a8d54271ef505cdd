#include "tools/upgradectl/fleet_board.h"

#include <algorithm>
#include <cstdio>

#include "app/display_text.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

constexpr std::size_t BAR_WIDTH = 10;
// Transfers report every block: the board follows at most this often.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr double RATE_AFTER_SECONDS = 0.5;

std::string KibPerSecond(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    return text;
}

}  // namespace

std::string FleetBoard::RateAndEta(uint64_t done, uint64_t total, std::chrono::duration<double> elapsed) {
    if (elapsed.count() < RATE_AFTER_SECONDS || done == 0) return {};
    const double rate = static_cast<double>(done) / elapsed.count();
    const auto left =
        static_cast<long long>(static_cast<double>(total > done ? total - done : 0) / rate + 0.5);
    char eta[32];
    std::snprintf(eta, sizeof eta, " ETA %lld:%02lld", left / 60, left % 60);
    return KibPerSecond(rate) + eta;
}

void FleetBoard::Start(std::size_t index, const std::string& label) {
    Row& row = rows_[index];
    row.label = label;
    row.text = "starting";
    Draw(true);
}

void FleetBoard::Line(std::size_t index, int lineNumber, std::string_view text) {
    Row& row = rows_[index];
    row.text = "line " + std::to_string(lineNumber) + ": " + PrintableText(text);
    Draw(false);
}

void FleetBoard::Transfer(std::size_t index, std::string_view fileName, uint64_t done, uint64_t total) {
    Row& row = rows_[index];
    if (done == 0 || row.file != fileName) {
        row.file = std::string(fileName);
        row.transferStart = Clock::now();
    }
    row.done = done;
    // The file name first, so that it stays visible on 80 columns.
    std::string text = PrintableText(fileName) + " " + ProgressBar::Bar(done, total, BAR_WIDTH);
    const std::string rate = RateAndEta(done, total, Clock::now() - row.transferStart);
    if (!rate.empty()) text += " " + rate;
    row.text = text;
    Draw(done == total);
}

void FleetBoard::End(std::size_t index, std::string_view result, bool succeeded) {
    const auto found = rows_.find(index);
    if (found == rows_.end()) return;
    Clear();
    out_ << found->second.label << ' ' << result << '\n';
    bytesEnded_ += found->second.done;
    ++ended_;
    if (!succeeded) ++failed_;
    rows_.erase(found);
    Draw(true);
}

void FleetBoard::Clear() {
    if (drawn_ == 0) return;
    // Up to the first drawn line, then erase from there to the end of the screen.
    out_ << "\x1b[" << drawn_ << "A\r\x1b[J" << std::flush;
    drawn_ = 0;
}

std::string FleetBoard::TotalLine() const {
    uint64_t bytes = bytesEnded_;
    for (const auto& [index, row] : rows_) bytes += row.done;
    const std::chrono::duration<double> elapsed = Clock::now() - started_;
    std::string line = "total: " + std::to_string(ended_) + " of " + std::to_string(count_) + " done";
    if (failed_ > 0) line += " (" + std::to_string(failed_) + " failed)";
    line += ", " + std::to_string(rows_.size()) + " running, " + std::to_string(bytes) + " bytes";
    if (elapsed.count() >= RATE_AFTER_SECONDS)
        line += ", " + KibPerSecond(static_cast<double>(bytes) / elapsed.count());
    return line;
}

void FleetBoard::Draw(bool now) {
    const auto at = Clock::now();
    if (!now && at - lastDraw_ < REDRAW_INTERVAL) return;
    lastDraw_ = at;
    Clear();
    if (rows_.empty()) return;  // nothing under way: the board makes way for what follows
    const std::size_t room = columns_ > 1 ? columns_ - 1 : columns_;
    for (const auto& [index, row] : rows_) out_ << FirstCharacters(row.label + " " + row.text, room) << '\n';
    out_ << FirstCharacters(TotalLine(), room) << '\n' << std::flush;
    drawn_ = rows_.size() + 1;
}

}  // namespace quorvane::cli
