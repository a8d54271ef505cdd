#pragma once
// Detached signatures in the format of the `minisign` tool: Ed25519 over a
// file (algorithm "Ed") or over the file's BLAKE2b-512 hash ("ED"), plus a
// second signature that binds the trusted comment to the first. Public keys
// are minisign's two-line .pub files. Parsing reports what is wrong in the
// words a user needs; verification says which part did not hold.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvane {

using MinisignKeyId = std::array<uint8_t, 8>;

struct MinisignKey {
    MinisignKeyId id{};
    std::array<uint8_t, 32> publicKey{};
};

struct MinisignSignature {
    bool prehashed = false;  // "ED": the file's BLAKE2b-512 hash was signed
    MinisignKeyId keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature{};  // over `signature` then `trustedComment`
};

// A parse's value, or why there is none ("not base64", "wrong algorithm").
template <typename T>
struct MinisignParse {
    T value{};
    std::string error;  // empty when `value` holds
    bool Ok() const { return error.empty(); }
};

MinisignParse<MinisignKey> ParseMinisignKey(std::string_view fileText);
MinisignParse<MinisignSignature> ParseMinisignSignature(std::string_view fileText);

enum class MinisignVerdict {
    Good,
    OtherKey,              // signed by another key than this one
    DataMismatch,          // the signature does not match the bytes
    TrustedCommentForged,  // the trusted comment is not the one signed
    NoCrypto,              // the crypto library could not start
};

MinisignVerdict VerifyMinisign(const MinisignKey& key, const MinisignSignature& signature,
                               std::span<const uint8_t> data);

// The key id as minisign prints it: the id's bytes read as a little-endian
// number, in upper-case hex without leading zeros ("BC662ECDBF43C4E9",
// "625ABB285DC5047").
std::string MinisignKeyIdText(const MinisignKeyId& id);

}  // namespace quorvane
