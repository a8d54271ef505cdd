#pragma once
// What `upgrade --dry-run` shows instead of running: each chosen device with
// the script lines a run would send it, the bytes of every LOAD and the file
// every READ would write (one per device when there are several).

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "package/package_check.h"
#include "protocol/device_chain.h"

namespace quorvane::cli {

// "02:00:00:00:00:01 would run:" and then one indented line per command.
void PrintPlan(std::ostream& out, const std::vector<DeviceRecord*>& devices, const PackageCheck& check);

// [{"mac": ..., "plan": [{"line", "command", "text"[, "loadBytes"][, "readOutput"]}]}]
nlohmann::ordered_json PlanJson(const std::vector<DeviceRecord*>& devices, const PackageCheck& check);

}  // namespace quorvane::cli
