#pragma once
// What a run that was asked to stop (Ctrl-C, a signal, Cancel) says of its
// devices once it has stopped: each device whose script it cut short,
// which may still be in programming mode, or that there was none; then the
// devices it never started. upgradectl prints the lines after its name,
// the desktop program shows them in one box.

#include <string>
#include <vector>

#include "app/run_model.h"

namespace quorvane {

// "interrupted; 02:00:00:00:00:01 was left mid-script and is probably
// still in programming mode" for each such device (else "interrupted; no
// device was left mid-script"), then "not started: ..." when any was not.
std::vector<std::string> InterruptedLines(const RunModel& model);

}  // namespace quorvane
