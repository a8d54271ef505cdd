#include "app/package_trust.h"

#include <cstdlib>

#include "package/package_file.h"

namespace quorvane {

std::vector<std::filesystem::path> TrustedKeyFolders(const char* xdgConfigHome, const char* home) {
    std::vector<std::filesystem::path> folders{"/etc/quorvane-upgrade/trusted-keys"};
    const std::filesystem::path relative = "quorvane-upgrade/trusted-keys";
    if (xdgConfigHome != nullptr && *xdgConfigHome != '\0') {
        folders.push_back(std::filesystem::path(xdgConfigHome) / relative);
    } else if (home != nullptr && *home != '\0') {
        folders.push_back(std::filesystem::path(home) / ".config" / relative);
    }
    return folders;
}

TrustOptions TrustOptionsOf(const GlobalOptions& options) {
    TrustOptions trust;
    trust.keyFolders = TrustedKeyFolders(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    trust.keyFiles = options.trustedKeys;
    trust.signature = options.signature;
    trust.allowUnsigned = options.allowUnsigned;
    return trust;
}

PackageTrust JudgePackage(const std::filesystem::path& package, const TrustOptions& trust) {
    PackageTrust judged;
    PackageFileRead read = ReadPackageFile(package);
    if (!read.Ok()) {
        judged.fileError = package.string() + ": " + read.error;
        return judged;
    }
    judged.bytes = std::move(read.bytes);
    TrustedKeyLoad keys = LoadTrustedKeys(trust.keyFolders, trust.keyFiles);
    if (!keys.error.empty()) {
        judged.signature.status = SignatureStatus::Bad;
        judged.signature.reason = keys.error;
        return judged;
    }
    const std::filesystem::path chosen = trust.signature.value_or(std::filesystem::path());
    const SignatureFile signature = ReadSignatureFile(SignatureFileOf(package, chosen), trust.signature.has_value());
    judged.signature = CheckSignature(keys.keys, signature, judged.bytes, trust.allowUnsigned);
    return judged;
}

JudgedPackage OpenJudged(const std::filesystem::path& path, UpgradePackage& package, const TrustOptions& trust) {
    JudgedPackage opened;
    PackageTrust judged = JudgePackage(path, trust);
    if (!judged.fileError.empty()) {
        opened.fileError = std::move(judged.fileError);
        return opened;
    }
    if (!package.Open(path, std::move(judged.bytes))) return opened;
    opened.opened = true;
    opened.check = CheckPackage(package, package.PackageFolder());
    JoinSignature(opened.check, std::move(judged.signature));
    return opened;
}

}  // namespace quorvane
