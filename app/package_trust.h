#pragma once
// Where this computer's trusted keys are, a package's signature judged
// against them and the options, and the package then opened from exactly
// the bytes that were judged.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/global_option_table.h"
#include "package/package_check.h"
#include "package/signature_check.h"
#include "package/upgrade_package.h"

namespace quorvane {

// The installed keys: /etc/quorvane-upgrade/trusted-keys, then the user's
// under $XDG_CONFIG_HOME (else ~/.config)/quorvane-upgrade/trusted-keys.
// Null or empty variables are left out.
std::vector<std::filesystem::path> TrustedKeyFolders(const char* xdgConfigHome, const char* home);

// What a package's signature is judged by.
struct TrustOptions {
    std::vector<std::filesystem::path> keyFolders;  // every "*.pub" in them is trusted
    std::vector<std::filesystem::path> keyFiles;    // and these (--trusted-key)
    std::optional<std::filesystem::path> signature;  // --signature, else beside the package
    bool allowUnsigned = false;
};

// The options' trust, with this computer's installed key folders (from the
// environment's XDG_CONFIG_HOME and HOME).
TrustOptions TrustOptionsOf(const GlobalOptions& options);

// A package read once and judged: `bytes` are what the check saw.
struct PackageTrust {
    std::vector<uint8_t> bytes;
    // A trusted key file that cannot be used refuses too, naming the file:
    // keys the user installed are never skipped in silence.
    SignatureCheck signature;
    // The package could not be read: "x.upk: No such file or directory".
    std::string fileError;
};

PackageTrust JudgePackage(const std::filesystem::path& package, const TrustOptions& trust);

// A package opened for use: the check with the signature joined.
struct JudgedPackage {
    bool opened = false;
    // Not opened: why the file could not be read, or empty (then the
    // package's OpenError() says this computer's fault, or it is invalid).
    std::string fileError;
    PackageCheck check;
};

// The one way a package is opened for use: read once, judged, opened from
// those bytes, and checked with its READ outputs beside the package.
JudgedPackage OpenJudged(const std::filesystem::path& path, UpgradePackage& package, const TrustOptions& trust);

}  // namespace quorvane
