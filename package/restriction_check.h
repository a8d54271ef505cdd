#pragma once
// The restriction file's part of the package check: lines of known keys
// that an admission pass ignores or reads differently from what they say.

#include <vector>

#include "package/package_check.h"

namespace quorvane {

class UpgradePackage;

void CheckRestrictionFile(UpgradePackage& package, std::vector<Finding>& findings);

}  // namespace quorvane
