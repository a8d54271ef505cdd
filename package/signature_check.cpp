#include "package/signature_check.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace quorvane {
namespace {

// Key and signature files are a few lines; anything longer is not one.
constexpr std::uintmax_t SMALL_FILE_LIMIT = 64 * 1024;

// Reads a small regular file whole; `error` gets the reason otherwise. A
// FIFO or a device is refused before it is opened, so reading cannot block.
bool ReadSmallFile(const std::filesystem::path& path, std::string& text, std::string& error) {
    std::error_code code;
    std::filesystem::file_status status = std::filesystem::status(path, code);
    if (code) {
        error = code.message();
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "not a regular file";
        return false;
    }
    if (std::filesystem::file_size(path, code) > SMALL_FILE_LIMIT || code) {
        error = code ? code.message() : "too large for a minisign file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool LoadKeyFile(const std::filesystem::path& file, TrustedKeyLoad& load) {
    std::string text;
    std::string why;
    if (ReadSmallFile(file, text, why)) {
        MinisignParse<MinisignKey> parse = ParseMinisignKey(text);
        if (parse.Ok()) {
            load.keys.push_back({parse.value, file});
            return true;
        }
        why = parse.error;
    }
    load.error = "trusted key " + file.string() + ": " + why;
    return false;
}

std::vector<std::filesystem::path> KeyFilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(folder, code)) {
        if (entry.path().extension() == ".pub") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

const TrustedKey* KeyWithId(const std::vector<TrustedKey>& trusted, const MinisignKeyId& id) {
    auto found = std::find_if(trusted.begin(), trusted.end(), [&](const TrustedKey& k) { return k.key.id == id; });
    return found == trusted.end() ? nullptr : &*found;
}

SignatureCheck Refusal(std::string reason, std::string keyId = {}) {
    SignatureCheck check;
    check.status = SignatureStatus::Bad;
    check.reason = std::move(reason);
    check.keyId = std::move(keyId);
    return check;
}

SignatureCheck Unsigned(bool keysTrusted, bool allowUnsigned) {
    if (!keysTrusted) return {};
    if (!allowUnsigned) return Refusal("not signed");
    SignatureCheck check;
    check.reason = "not signed; sent because unsigned packages are allowed (--allow-unsigned)";
    return check;
}

}  // namespace

TrustedKeyLoad LoadTrustedKeys(const std::vector<std::filesystem::path>& folders,
                               const std::vector<std::filesystem::path>& files) {
    TrustedKeyLoad load;
    for (const auto& folder : folders) {
        for (const auto& file : KeyFilesIn(folder)) {
            if (!LoadKeyFile(file, load)) return load;
        }
    }
    for (const auto& file : files) {
        if (!LoadKeyFile(file, load)) return load;
    }
    return load;
}

std::filesystem::path SignatureFileOf(const std::filesystem::path& package, const std::filesystem::path& chosen) {
    if (!chosen.empty()) return chosen;
    std::filesystem::path beside = package;
    beside += ".minisig";
    return beside;
}

SignatureFile ReadSignatureFile(const std::filesystem::path& path, bool required) {
    SignatureFile file;
    std::error_code code;
    if (!required && !std::filesystem::exists(std::filesystem::symlink_status(path, code))) return file;
    file.present = true;
    std::string why;
    if (!ReadSmallFile(path, file.text, why)) file.error = "signature file " + path.string() + ": " + why;
    return file;
}

SignatureCheck CheckSignature(const std::vector<TrustedKey>& trusted, const SignatureFile& signature,
                              std::span<const uint8_t> packageBytes, bool allowUnsigned) {
    if (!signature.present) return Unsigned(!trusted.empty(), allowUnsigned);
    if (!signature.error.empty()) return Refusal(signature.error);
    MinisignParse<MinisignSignature> parse = ParseMinisignSignature(signature.text);
    if (!parse.Ok()) return Refusal("malformed signature: " + parse.error);
    std::string keyId = MinisignKeyIdText(parse.value.keyId);
    if (trusted.empty()) {
        SignatureCheck check;
        check.status = SignatureStatus::Unverified;
        check.keyId = keyId;
        check.trustedComment = parse.value.trustedComment;
        check.reason = "signed by key " + keyId + ", but no trusted key is installed: not verified";
        return check;
    }
    const TrustedKey* key = KeyWithId(trusted, parse.value.keyId);
    if (key == nullptr) return Refusal("signed by key " + keyId + ", which is not trusted", keyId);
    switch (VerifyMinisign(key->key, parse.value, packageBytes)) {
        case MinisignVerdict::Good: break;
        case MinisignVerdict::OtherKey: return Refusal("signed by key " + keyId + ", which is not trusted", keyId);
        case MinisignVerdict::DataMismatch: return Refusal("signature does not match the package", keyId);
        case MinisignVerdict::TrustedCommentForged:
            return Refusal("the signature's trusted comment was changed after signing", keyId);
        case MinisignVerdict::NoCrypto: return Refusal("the signature cannot be verified here (libsodium failed to start)", keyId);
    }
    SignatureCheck check;
    check.status = SignatureStatus::Good;
    check.keyId = keyId;
    check.trustedComment = parse.value.trustedComment;
    return check;
}

const char* SignatureStatusWord(SignatureStatus status) {
    switch (status) {
        case SignatureStatus::None: return "none";
        case SignatureStatus::Good: return "good";
        case SignatureStatus::Unverified: return "unverified";
        case SignatureStatus::Bad: return "bad";
    }
    return "none";
}

std::string SignatureLine(const SignatureCheck& check) {
    if (check.status == SignatureStatus::Good) return "signed by key " + check.keyId + ": " + check.trustedComment;
    if (!check.reason.empty()) return check.reason;
    return "not signed";
}

}  // namespace quorvane
