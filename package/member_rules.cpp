#include "package/member_rules.h"

#include <algorithm>

#include "package/text.h"

namespace quorvane {

std::string MemberKey(std::string_view storedName) {
    // Readers take a name as a zero-terminated text.
    std::string key(storedName.substr(0, storedName.find('\0')));
    UpperAscii(key);
    return key;
}

bool MemberMatches(std::string_view storedName, const std::string& upperName) {
    return MemberKey(storedName) == std::string_view(upperName.c_str());
}

bool IsScrambledMember(std::string_view name) {
    return MemberKey(name) == RESTRICTION_FILE;
}

bool IsSafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F;
    });
}

bool FitsMemberName(std::string_view name) {
    return name.size() <= MAX_MEMBER_NAME;
}

bool IsAcceptedMemberName(const std::string& name) {
    return IsSafeFileName(name) && FitsMemberName(name);
}

}  // namespace quorvane
