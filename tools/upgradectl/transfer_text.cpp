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

}  // namespace

std::string CompactBytes(uint64_t done, uint64_t total) {
    const std::string first = CompactBytes(done);
    const std::string second = CompactBytes(total);
    // One unit for both where they share it: "1.5/2.0 KiB".
    const std::size_t space = first.rfind(' ');
    if (space != std::string::npos && second.ends_with(first.substr(space)))
        return first.substr(0, space) + "/" + second;
    return first + "/" + second;
}

std::string CompactBytes(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    const char* unit = "KiB";
    if (value >= 1024.0) {
        value /= 1024.0;
        unit = "MiB";
    }
    if (value >= 1024.0) {
        value /= 1024.0;
        unit = "GiB";
    }
    char text[32];
    // Truncated, not rounded: 1023.99 KiB is not yet "1024 KiB", let alone 1.0 MiB.
    if (value < 10.0)
        std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(static_cast<long long>(value * 10)) / 10,
                      unit);
    else
        std::snprintf(text, sizeof text, "%lld %s", static_cast<long long>(value), unit);
    return text;
}

std::string RateText(double bytesPerSecond) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f KiB/s", bytesPerSecond / 1024.0);
    return rate;
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
    // The bytes are counted as wide as the finished transfer's, so that
    // the bar and the file name keep their width while the count grows.
    const std::size_t bytesWidth = std::max(bytes.size(), CompactBytes(total, total).size());
    const std::size_t figures = 1 + bytesWidth + 1 + std::max(paceText.size(), PACE_WIDTH);
    const std::size_t fixed = fileWidth + 1 + Percent(done, total).size() + figures;
    const std::size_t spare = room > fixed ? room - fixed : 0;
    const std::size_t bar = spare >= MIN_BAR + 3 ? std::min(maxBar, spare - 3) : 0;
    std::string shownFile = file;
    if (bar == 0 && fixed > room) shownFile = ElideMiddle(file, std::max(MIN_FILE, fileWidth - (fixed - room)));
    return shownFile + " " + (bar > 0 ? ProgressBar::Bar(done, total, bar) : Percent(done, total)) + tail;
}

}  // namespace quorvane::cli
