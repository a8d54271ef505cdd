#pragma once
// Where this computer's trusted keys are, and a package's signature judged
// against them and the options, on the bytes that will then be opened.

#include <filesystem>
#include <string>
#include <vector>

#include "app/global_option_table.h"
#include "package/signature_check.h"

namespace quorvane {

// The installed keys: /etc/quorvane-upgrade/trusted-keys, then the user's
// under $XDG_CONFIG_HOME (else ~/.config)/quorvane-upgrade/trusted-keys.
// Null or empty variables are left out.
std::vector<std::filesystem::path> TrustedKeyFolders(const char* xdgConfigHome, const char* home);

// A package read once and judged: `bytes` are what the check saw.
struct PackageTrust {
    std::vector<uint8_t> bytes;
    SignatureCheck signature;
    // Why no judgement could be made: the package unreadable (the system's
    // reason, naming the file) or a trusted key file broken.
    std::string error;
    bool Passes() const { return error.empty() && !signature.Refused(); }
};

// Reads `package`, the keys (folders, then --trusted-key), the signature
// (--signature, else beside the package) and judges them.
PackageTrust JudgePackage(const std::filesystem::path& package, const std::vector<std::filesystem::path>& keyFolders,
                          const GlobalOptions& options);

}  // namespace quorvane
