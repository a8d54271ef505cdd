#pragma once
// What `upgrade --dry-run` shows instead of running: each chosen device with
// the script lines a run would send it, the bytes of every LOAD and the file
// every READ would write (one per device when there are several).

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "app/rollout_gate.h"
#include "app/run_model.h"
#include "package/package_check.h"
#include "protocol/device_chain.h"

namespace quorvane::cli {

// "02:00:00:00:00:01 would run:" and then one indented line per command.
// READ files are named as a run of `named` devices names them (0: of the
// devices listed): a run with current devices counts them too.
void PrintPlan(std::ostream& out, const std::vector<DeviceRecord*>& devices, const PackageCheck& check,
               std::size_t named = 0);

// [{"mac": ..., "plan": [{"line", "command", "text"[, "loadBytes"][, "readOutput"]}]}]
nlohmann::ordered_json PlanJson(const std::vector<DeviceRecord*>& devices, const PackageCheck& check,
                                std::size_t named = 0);

// The stages a staged run would go through, when any was asked for:
// "canaries: 02:00:00:00:00:01", "then: 3 devices, once every canary was
// upgraded and came back", "current, not touched: 02:00:00:00:00:04
// (v QVN 4.1.0 12/01/26)", "failure budget: 2 devices". Nothing otherwise.
void PrintStages(std::ostream& out, const RunModel& model, const RolloutStages& stages);

// {"canaries": [MAC...], "then": [MAC...], "current": [{"mac", "firmware"}],
//  "max_failures": n or null}
nlohmann::ordered_json StagesJson(const RunModel& model, const RolloutStages& stages);

// The devices of `model` that a run would touch: all but the current ones.
std::vector<DeviceRecord*> TouchedDevices(const RunModel& model);

}  // namespace quorvane::cli
