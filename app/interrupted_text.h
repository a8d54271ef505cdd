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

// Where the notice of a run asked to stop is shown.
enum class StopNotice { Window, Terminal };
// What a run asked to stop says at once, while the exchange under way
// finishes: IDS_STOPPING in a window ("Stopping after the exchange under
// way..."); on a terminal a line after the program's name that also says
// how to end at once ("stopping after the exchange under way; press Ctrl-C
// again to end at once").
std::string StoppingText(StopNotice where);

}  // namespace quorvane
