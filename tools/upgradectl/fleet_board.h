#pragma once
// Devices upgraded side by side, on a terminal: one line per device under
// way and a total line, redrawn in place below everything printed before.
// A device that is done leaves one line with its result above them.

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "app/upgrade_command.h"

namespace quorvane::cli {

class FleetBoard {
public:
    // `count`: devices in the run; `columns`: the terminal width.
    FleetBoard(std::ostream& out, std::size_t count, std::size_t columns)
        : out_(out), count_(count), columns_(columns) {}

    // `label` names the device on its line, e.g. "[2/16 02:00:00:00:00:02]".
    void Start(std::size_t index, const std::string& label);
    void Line(std::size_t index, int lineNumber, std::string_view text);
    // The device's transfer: file, bar, bytes, rate and time left.
    void Transfer(std::size_t index, const TransferStep& step);
    // The exchange under way is sent again; empty: it was answered.
    void Waiting(std::size_t index, std::string_view waiting);
    // Replaces the device's line by a permanent "LABEL RESULT" line.
    void End(std::size_t index, std::string_view result, bool succeeded);
    // Erases the lines drawn; the next change draws them again.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    struct Row {
        std::string label;
        std::string text;  // the script line, or the transfer with its bar
    };

    void Draw(bool now);
    std::string TotalLine() const;
    std::size_t Room() const;  // the characters of a line: one column stays free

    std::ostream& out_;
    std::size_t count_;
    std::size_t columns_;
    std::map<std::size_t, Row> rows_;  // the devices under way, by index
    std::size_t drawn_ = 0;            // lines on the screen now
    // By index, each device once however often it ran: its bytes so far
    // and, once done, whether it was upgraded.
    std::map<std::size_t, uint64_t> bytes_;
    std::map<std::size_t, bool> results_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastDraw_{};
};

}  // namespace quorvane::cli
