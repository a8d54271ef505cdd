#pragma once
// The findings of a package check as every command shows them: one line per
// finding on a terminal, or the object that `--json` prints.

#include <nlohmann/json.hpp>
#include <ostream>

#include "package/package_check.h"

namespace quorvane::cli {

// {"errors":[{"member":..,"line":N,"message":..}],"warnings":[...]} in the
// order the check found them, and "signature" once it was judged.
nlohmann::ordered_json FindingsJson(const PackageCheck& check);
// {"status", "key_id", "trusted_comment", "reason"}: the texts null when empty.
nlohmann::ordered_json SignatureJson(const SignatureCheck& signature);

// One FormatFinding line per finding, filtered for the terminal: a finding
// may quote a script line or a member name.
void PrintFindings(std::ostream& out, const PackageCheck& check);

}  // namespace quorvane::cli
