#include "package/minisign.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace quorvane {
namespace {

constexpr std::string_view UNTRUSTED_PREFIX = "untrusted comment: ";
constexpr std::string_view TRUSTED_PREFIX = "trusted comment: ";

// The file's lines without their line ends; a last line may lack one.
std::vector<std::string_view> LinesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Decodes standard base64 into exactly `out.size()` bytes.
bool DecodeExactly(std::string_view base64, std::span<uint8_t> out) {
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out.data(), out.size(), base64.data(), base64.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    return length == out.size() && end == base64.data() + base64.size();
}

bool StartSodium() { return sodium_init() >= 0; }

}  // namespace

MinisignParse<MinisignKey> ParseMinisignKey(std::string_view fileText) {
    MinisignParse<MinisignKey> parse;
    std::vector<std::string_view> lines = LinesOf(fileText);
    if (lines.size() < 2 || !StartsWith(lines[0], UNTRUSTED_PREFIX)) {
        parse.error = "not a minisign public key (an \"untrusted comment:\" line, then the key)";
        return parse;
    }
    std::array<uint8_t, 2 + 8 + 32> bytes{};
    if (!DecodeExactly(lines[1], bytes)) {
        parse.error = "the key is not 42 bytes of base64";
        return parse;
    }
    if (bytes[0] != 'E' || bytes[1] != 'd') {
        parse.error = "the key is not an Ed25519 key (its algorithm is not \"Ed\")";
        return parse;
    }
    std::memcpy(parse.value.id.data(), bytes.data() + 2, 8);
    std::memcpy(parse.value.publicKey.data(), bytes.data() + 10, 32);
    return parse;
}

MinisignParse<MinisignSignature> ParseMinisignSignature(std::string_view fileText) {
    MinisignParse<MinisignSignature> parse;
    std::vector<std::string_view> lines = LinesOf(fileText);
    if (lines.size() < 4 || !StartsWith(lines[0], UNTRUSTED_PREFIX) || !StartsWith(lines[2], TRUSTED_PREFIX)) {
        parse.error =
            "not a minisign signature (an \"untrusted comment:\" line, the signature, a \"trusted comment:\" "
            "line and the global signature)";
        return parse;
    }
    std::array<uint8_t, 2 + 8 + 64> bytes{};
    if (!DecodeExactly(lines[1], bytes)) {
        parse.error = "the signature is not 74 bytes of base64";
        return parse;
    }
    MinisignSignature& signature = parse.value;
    if (bytes[0] == 'E' && bytes[1] == 'D') {
        signature.prehashed = true;
    } else if (!(bytes[0] == 'E' && bytes[1] == 'd')) {
        parse.error = "the signature's algorithm is neither \"ED\" nor \"Ed\"";
        return parse;
    }
    std::memcpy(signature.keyId.data(), bytes.data() + 2, 8);
    std::memcpy(signature.signature.data(), bytes.data() + 10, 64);
    signature.trustedComment = std::string(lines[2].substr(TRUSTED_PREFIX.size()));
    if (!DecodeExactly(lines[3], signature.globalSignature)) {
        parse.error = "the global signature is not 64 bytes of base64";
    }
    return parse;
}

MinisignVerdict VerifyMinisign(const MinisignKey& key, const MinisignSignature& signature,
                               std::span<const uint8_t> data) {
    if (!StartSodium()) return MinisignVerdict::NoCrypto;
    if (signature.keyId != key.id) return MinisignVerdict::OtherKey;
    std::array<uint8_t, crypto_generichash_BYTES_MAX> hash{};
    std::span<const uint8_t> message = data;
    if (signature.prehashed) {
        crypto_generichash(hash.data(), hash.size(), data.data(), data.size(), nullptr, 0);
        message = hash;
    }
    if (crypto_sign_verify_detached(signature.signature.data(), message.data(), message.size(),
                                    key.publicKey.data()) != 0) {
        return MinisignVerdict::DataMismatch;
    }
    std::vector<uint8_t> global(signature.signature.begin(), signature.signature.end());
    global.insert(global.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), global.data(), global.size(),
                                    key.publicKey.data()) != 0) {
        return MinisignVerdict::TrustedCommentForged;
    }
    return MinisignVerdict::Good;
}

std::string MinisignKeyIdText(const MinisignKeyId& id) {
    uint64_t number = 0;
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) number = number << 8 | *byte;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%llX", static_cast<unsigned long long>(number));
    return digits;
}

}  // namespace quorvane
