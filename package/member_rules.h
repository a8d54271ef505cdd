#pragma once
// The rules a package's member names follow, for everything that reads,
// writes, checks, packs or unpacks a package: which members a package must
// hold, which one is stored scrambled, which names are one name to a
// reader, and which names a member may have.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// Longer names do not fit the format's name field as readers take it.
inline constexpr std::size_t MAX_MEMBER_NAME = 255;

// The two text members every package holds, as written.
inline constexpr const char* SCRIPT_MEMBER = "program.cmd";
inline constexpr const char* RESTRICTION_MEMBER = "restriction.ini";
// The same as extracted and looked up, upper-cased (see MemberKey).
inline constexpr const char* SCRIPT_FILE = "PROGRAM.CMD";
inline constexpr const char* RESTRICTION_FILE = "RESTRICTION.INI";

// The name a member is found by: the stored name up to its first NUL byte,
// its ASCII letters upper-cased. Members of one key are one member to a
// reader: every lookup finds the first, which shadows the others.
std::string MemberKey(std::string_view storedName);

// True when a lookup of `upperName` (already upper-cased) finds the member
// stored as `storedName`.
bool MemberMatches(std::string_view storedName, const std::string& upperName);

// True for the one member stored scrambled with the member key, the
// restriction file (in any case); every other member is stored as it is.
bool IsScrambledMember(std::string_view name);

// False for names that could leave their folder: empty, "." or "..", or
// holding '/', '\\' or a control byte.
bool IsSafeFileName(const std::string& name);

// True when the name fits the format's name field.
bool FitsMemberName(std::string_view name);

// A name a member may be stored under and written back out by: a safe
// file name that fits the format.
bool IsAcceptedMemberName(const std::string& name);

}  // namespace quorvane
