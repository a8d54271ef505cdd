#include "tools/upgradectl/fleet_board.h"

#include "app/display_text.h"
#include "tools/upgradectl/text_table.h"
#include "tools/upgradectl/transfer_text.h"

namespace quorvane::cli {
namespace {

constexpr std::size_t BAR_WIDTH = 10;
// Transfers report every block: the board follows at most this often.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);

}  // namespace

void FleetBoard::Start(std::size_t index, const std::string& label) {
    Row& row = rows_[index];
    row.label = label;
    row.text = "starting";
    // A device run again (a retry of the batch) is under way, no longer done.
    results_.erase(index);
    Draw(true);
}

void FleetBoard::Line(std::size_t index, int lineNumber, std::string_view text) {
    Row& row = rows_[index];
    row.text = "line " + std::to_string(lineNumber) + ": " + PrintableText(text);
    Draw(false);
}

void FleetBoard::Transfer(std::size_t index, const TransferStep& step) {
    Row& row = rows_[index];
    bytes_[index] = step.exchanges.bytes;
    // The file name first, so that it stays visible on 80 columns.
    const std::size_t used = CharacterCount(row.label) + 1;
    row.text = TransferText(step.fileName, step.done, step.total, step.pace, BAR_WIDTH,
                            Room() > used ? Room() - used : 0);
    Draw(step.done == step.total);
}

void FleetBoard::Waiting(std::size_t index, std::string_view waiting) {
    if (waiting.empty()) return;  // the next line or transfer step takes the place
    rows_[index].text = std::string(waiting);
    Draw(true);  // once a receive wait at most
}

void FleetBoard::End(std::size_t index, std::string_view result, bool succeeded) {
    const auto found = rows_.find(index);
    if (found == rows_.end()) return;
    Clear();
    out_ << found->second.label << ' ' << result << '\n';
    results_[index] = succeeded;
    rows_.erase(found);
    Draw(true);
}

void FleetBoard::Clear() {
    if (drawn_ == 0) return;
    // Up to the first drawn line, then erase from there to the end of the screen.
    out_ << "\x1b[" << drawn_ << "A\r\x1b[J" << std::flush;
    drawn_ = 0;
}

std::size_t FleetBoard::Room() const {
    return columns_ > 1 ? columns_ - 1 : columns_;
}

std::string FleetBoard::TotalLine() const {
    uint64_t bytes = 0;
    for (const auto& [index, deviceBytes] : bytes_) bytes += deviceBytes;
    std::size_t failed = 0;
    for (const auto& [index, succeeded] : results_) failed += succeeded ? 0 : 1;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started_);
    std::string line = "total: " + std::to_string(results_.size()) + " of " + std::to_string(count_) + " done";
    if (failed > 0) line += " (" + std::to_string(failed) + " failed)";
    line += ", " + std::to_string(rows_.size()) + " running, " + CompactBytes(bytes);
    // The whole fleet's rate, told as soon as a single transfer's would be.
    if (const TransferPace pace = PaceOf(bytes, bytes, elapsed); pace.known)
        line += ", " + RateText(pace.bytesPerSecond);
    return line;
}

void FleetBoard::Draw(bool now) {
    const auto at = Clock::now();
    if (!now && at - lastDraw_ < REDRAW_INTERVAL) return;
    lastDraw_ = at;
    Clear();
    if (rows_.empty()) return;  // nothing under way: the board makes way for what follows
    for (const auto& [index, row] : rows_) out_ << FirstCharacters(row.label + " " + row.text, Room()) << '\n';
    out_ << FirstCharacters(TotalLine(), Room()) << '\n' << std::flush;
    drawn_ = rows_.size() + 1;
}

}  // namespace quorvane::cli
