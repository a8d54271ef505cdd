// The minisign key and signature parsers and the trust policy over them.
// Input: a public key file, a "%%" line, a signature file, a "%%" line, the
// signed bytes. Whatever parses holds exactly the sizes the format gives;
// the policy never passes a signature that does not verify, and with no
// trusted key it never refuses a signature that could be read.

#include <cctype>
#include <string>

#include "fuzz/fuzz_support.h"
#include "package/minisign.h"
#include "package/signature_check.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

bool IsKeyIdText(const std::string& text) {
    if (text.empty() || text.size() > 16) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::islower(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string_view> sections = SplitSections({data, size}, 3);
    const std::span<const uint8_t> signed_(reinterpret_cast<const uint8_t*>(sections[2].data()), sections[2].size());
    const MinisignParse<MinisignKey> key = ParseMinisignKey(sections[0]);
    const MinisignParse<MinisignSignature> signature = ParseMinisignSignature(sections[1]);
    if (key.Ok()) FUZZ_CHECK(IsKeyIdText(MinisignKeyIdText(key.value.id)));
    if (signature.Ok()) FUZZ_CHECK(signature.value.trustedComment.find('\n') == std::string::npos);

    const SignatureFile file{true, std::string(sections[1]), ""};
    const SignatureCheck untrusted = CheckSignature({}, file, signed_, false);
    FUZZ_CHECK((untrusted.status == SignatureStatus::Unverified) == signature.Ok());
    FUZZ_CHECK(untrusted.status == SignatureStatus::Unverified || untrusted.status == SignatureStatus::Bad);
    if (!key.Ok()) return 0;

    const std::vector<TrustedKey> trusted{{key.value, "fuzz.pub"}};
    const SignatureCheck judged = CheckSignature(trusted, file, signed_, true);
    const bool verifies = signature.Ok() && VerifyMinisign(key.value, signature.value, signed_) == MinisignVerdict::Good;
    FUZZ_CHECK((judged.status == SignatureStatus::Good) == verifies);
    FUZZ_CHECK(judged.status == SignatureStatus::Good || judged.status == SignatureStatus::Bad);
    if (verifies) {
        FUZZ_CHECK(IsKeyIdText(judged.keyId));
        FUZZ_CHECK(judged.trustedComment == signature.value.trustedComment);
        // One changed byte of what was signed no longer verifies.
        std::vector<uint8_t> changed(signed_.begin(), signed_.end());
        changed.push_back(0);
        FUZZ_CHECK(CheckSignature(trusted, file, changed, true).status == SignatureStatus::Bad);
    }
    return 0;
}
