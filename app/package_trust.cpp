#include "app/package_trust.h"

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

PackageTrust JudgePackage(const std::filesystem::path& package, const std::vector<std::filesystem::path>& keyFolders,
                          const GlobalOptions& options) {
    PackageTrust trust;
    PackageFileRead read = ReadPackageFile(package);
    if (!read.Ok()) {
        trust.error = "cannot read " + package.string() + ": " + read.error;
        return trust;
    }
    trust.bytes = std::move(read.bytes);
    TrustedKeyLoad keys = LoadTrustedKeys(keyFolders, options.trustedKeys);
    if (!keys.error.empty()) {
        trust.error = keys.error;
        return trust;
    }
    const std::filesystem::path chosen = options.signature.value_or(std::filesystem::path());
    const SignatureFile signature = ReadSignatureFile(SignatureFileOf(package, chosen), options.signature.has_value());
    trust.signature = CheckSignature(keys.keys, signature, trust.bytes, options.allowUnsigned);
    return trust;
}

}  // namespace quorvane
