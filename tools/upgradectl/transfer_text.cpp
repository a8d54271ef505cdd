#include "tools/upgradectl/transfer_text.h"

#include <algorithm>
#include <cstdio>

#include "app/display_text.h"
#include "tools/upgradectl/progress_bar.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

// A bar narrower than this says less than the percentage beside it.
constexpr std::size_t MIN_BAR = 5;
// A file name is never cut to less: "ab...n" still tells files apart.
constexpr std::size_t MIN_FILE = 9;
constexpr std::string_view ELLIPSIS = "...";
// "80.0 KiB/s ETA 0:01", room kept for the pace before it is known.
constexpr std::size_t PACE_WIDTH = 19;

std::string Percent(uint64_t done, uint64_t total) {
    const uint64_t percent = total == 0 ? 100 : std::min(done, total) * 100 / total;
    const std::string number = std::to_string(percent);
    return std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%";
}

struct Unit {
    uint64_t bytes;
    const char* name;
};

// The unit a count is told in: the largest it reaches one of.
Unit UnitOf(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 30)) return {uint64_t{1} << 30, "GiB"};
    if (bytes >= (uint64_t{1} << 20)) return {uint64_t{1} << 20, "MiB"};
    if (bytes >= 1024) return {1024, "KiB"};
    return {1, "B"};
}

// `bytes` in `unit` without its name: one decimal below ten units, else whole.
std::string Number(uint64_t bytes, Unit unit) {
    if (unit.bytes == 1) return std::to_string(bytes);
    const double value = static_cast<double>(bytes) / static_cast<double>(unit.bytes);
    char text[32];
    // Truncated, not rounded: 1023.99 KiB is not yet "1024 KiB", let alone 1.0 MiB.
    if (value < 10.0)
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(static_cast<long long>(value * 10)) / 10);
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

}  // namespace

std::string CompactBytes(uint64_t bytes) {
    const Unit unit = UnitOf(bytes);
    return Number(bytes, unit) + " " + unit.name;
}

std::string CompactBytes(uint64_t done, uint64_t total) {
    // The count in the total's unit, so that its width holds while it grows.
    const Unit unit = UnitOf(total);
    return Number(std::min(done, total), unit) + "/" + Number(total, unit) + " " + unit.name;
}

std::size_t WidestBytes(uint64_t total) {
    // In the total's unit a count is never wider than the total, but for
    // "9.9" below ten units of a total of ten or more.
    const Unit unit = UnitOf(total);
    const uint64_t nearlyTen = 10 * unit.bytes - 1;
    const std::size_t widest = CompactBytes(total, total).size();
    return unit.bytes > 1 && nearlyTen <= total ? std::max(widest, CompactBytes(nearlyTen, total).size()) : widest;
}

std::string PaceText(const TransferPace& pace) {
    if (!pace.known) return {};
    return RateText(pace.bytesPerSecond) + " ETA " + MinutesAndSeconds(pace.left);
}

std::string ElideMiddle(std::string_view text, std::size_t limit) {
    const std::size_t count = CharacterCount(text);
    if (count <= limit) return std::string(text);
    if (limit <= ELLIPSIS.size()) return FirstCharacters(text, limit);
    const std::size_t kept = limit - ELLIPSIS.size();
    const std::size_t tail = kept / 2;  // the end holds the extension: it gets no less than the start
    const std::string head = FirstCharacters(text, kept - tail);
    const std::size_t tailStart = FirstCharacters(text, count - tail).size();
    return head + std::string(ELLIPSIS) + std::string(text.substr(tailStart));
}

std::string TransferText(std::string_view fileName, uint64_t done, uint64_t total, const TransferPace& pace,
                         std::size_t maxBar, std::size_t room) {
    const std::string file = PrintableText(fileName);
    const std::string bytes = CompactBytes(done, total);
    const std::string paceText = PaceText(pace);
    std::string tail = " " + bytes;
    if (!paceText.empty()) tail += " " + paceText;
    const std::size_t fileWidth = CharacterCount(file);
    // What is left for " [BAR]" beside the whole file name and the figures;
    // room for the pace is kept from the start, so that the bar does not
    // narrow once the pace is known.
    // The bytes are counted as wide as they get on the way, so that the bar
    // and the file name keep their width while the count grows.
    const std::size_t bytesWidth = std::max(bytes.size(), WidestBytes(total));
    const std::size_t figures = 1 + bytesWidth + 1 + std::max(paceText.size(), PACE_WIDTH);
    const std::size_t fixed = fileWidth + 1 + Percent(done, total).size() + figures;
    const std::size_t spare = room > fixed ? room - fixed : 0;
    const std::size_t bar = spare >= MIN_BAR + 3 ? std::min(maxBar, spare - 3) : 0;
    std::string shownFile = file;
    if (bar == 0 && fixed > room) {
        const std::size_t over = fixed - room;
        shownFile = ElideMiddle(file, over < fileWidth ? std::max(MIN_FILE, fileWidth - over) : MIN_FILE);
    }
    return shownFile + " " + (bar > 0 ? ProgressBar::Bar(done, total, bar) : Percent(done, total)) + tail;
}

}  // namespace quorvane::cli
