#include "package/package_writer.h"

#include <fstream>
#include <system_error>
#include <utility>

#include "package/upgrade_package.h"

namespace quorvane {

namespace {

void AppendLength(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A package the reader would refuse must never be written.
bool WithinLimits(const PackageMember& member) {
    return member.name.size() <= MAX_MEMBER_NAME && member.data.size() < MEMBER_DATA_LIMIT;
}

}  // namespace

void ScrambleMember(std::span<uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] ^= MEMBER_KEY[(i % EXTRACT_CHUNK) % MEMBER_KEY.size()];
    }
}

std::vector<uint8_t> EncodePackage(const std::vector<PackageMember>& members) {
    std::vector<uint8_t> out;
    for (const PackageMember& member : members) {
        AppendLength(out, static_cast<uint32_t>(member.name.size()));
        out.insert(out.end(), member.name.begin(), member.name.end());
        AppendLength(out, static_cast<uint32_t>(member.data.size()));
        const std::size_t dataStart = out.size();
        out.insert(out.end(), member.data.begin(), member.data.end());
        if (member.scramble) ScrambleMember(std::span<uint8_t>(out).subspan(dataStart));
        // Every data field is padded to an even length.
        if (member.data.size() % 2 != 0) out.push_back(0);
    }
    AppendLength(out, END_MARKER);
    return out;
}

bool WritePackage(const std::filesystem::path& path, const std::vector<PackageMember>& members) {
    for (const PackageMember& member : members) {
        if (!WithinLimits(member)) return false;
    }
    const std::vector<uint8_t> bytes = EncodePackage(members);
    std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open()) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    std::error_code error;
    std::filesystem::remove(path, error);
    return false;
}

std::vector<PackageMember> StandardMembers(const std::string& script, const std::string& restrictions,
                                           std::vector<PackageMember> dataMembers) {
    std::vector<PackageMember> members;
    members.push_back({SCRIPT_MEMBER, Bytes(script), false});
    members.push_back({RESTRICTION_MEMBER, Bytes(restrictions), true});
    for (PackageMember& member : dataMembers) members.push_back(std::move(member));
    return members;
}

}  // namespace quorvane
