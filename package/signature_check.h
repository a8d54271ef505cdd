#pragma once
// Whether a package may be sent to devices, judged by its detached minisign
// signature and the keys this computer trusts. Once any key is trusted the
// judgement fails closed: only a good signature by a trusted key passes, or
// an unsigned package when the user explicitly allows unsigned ones.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/minisign.h"

namespace quorvane {

struct TrustedKey {
    MinisignKey key;
    std::filesystem::path file;  // where it was read from
};

struct TrustedKeyLoad {
    std::vector<TrustedKey> keys;
    std::string error;  // the first key file that could not be read or parsed, named; empty when none
};

// Every "*.pub" of the folders (a folder that does not exist has none), in
// name order, then every file of `files`. A key file that cannot be used is
// an error, never skipped.
TrustedKeyLoad LoadTrustedKeys(const std::vector<std::filesystem::path>& folders,
                               const std::vector<std::filesystem::path>& files);

// The signature file of `package`: `chosen` when given, else minisign's own
// name beside the package ("P.upk.minisig").
std::filesystem::path SignatureFileOf(const std::filesystem::path& package, const std::filesystem::path& chosen);

enum class SignatureStatus {
    None,        // not signed, and nothing requires it
    Good,        // signed by a trusted key
    Unverified,  // signed, but no key is trusted here to verify it
    Bad,         // refused: see `reason`
};

struct SignatureCheck {
    SignatureStatus status = SignatureStatus::None;
    std::string keyId;           // the signature's key, as minisign prints it; empty when unsigned
    std::string trustedComment;  // of a signature that could be read
    std::string reason;          // Bad: why; otherwise a warning to show, or empty
    bool Refused() const { return status == SignatureStatus::Bad; }
};

// What a signature file holds, read once: absent, its text, or why it
// could not be read.
struct SignatureFile {
    bool present = false;
    std::string text;
    std::string error;  // present but unreadable: the reason, naming the file
};

// Reads `path`; a missing file is no signature unless `required` (a file the
// user named), when it is an error.
SignatureFile ReadSignatureFile(const std::filesystem::path& path, bool required);

// Judges `packageBytes`, exactly the bytes that will be opened and sent.
SignatureCheck CheckSignature(const std::vector<TrustedKey>& trusted, const SignatureFile& signature,
                              std::span<const uint8_t> packageBytes, bool allowUnsigned);

// "none", "good", "unverified", "bad".
const char* SignatureStatusWord(SignatureStatus status);

// One line for the user: "signed by key ID: COMMENT", "not signed", the
// warning or the reason for the refusal.
std::string SignatureLine(const SignatureCheck& check);

}  // namespace quorvane
