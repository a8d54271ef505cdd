#pragma once
// The findings of a package check as every command shows them: one line per
// finding on a terminal, or the object that `--json` prints.

#include <nlohmann/json.hpp>
#include <ostream>

#include "package/package_check.h"

namespace quorvane::cli {

// {"errors":[{"member":..,"line":N,"message":..}],"warnings":[...]}, in the
// order the check found them.
nlohmann::ordered_json FindingsJson(const PackageCheck& check);

// One FormatFinding line per finding, filtered for the terminal: a finding
// may quote a script line or a member name.
void PrintFindings(std::ostream& out, const PackageCheck& check);

}  // namespace quorvane::cli
