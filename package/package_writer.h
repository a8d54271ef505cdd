#pragma once
// Builds package files: members in the given order, fill bytes after odd
// data, the end marker; scrambled members are stored with the member key.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace quorvane {

struct PackageMember {
    std::string name;
    std::vector<uint8_t> data;
    bool scramble = false;
};

// Combines every byte with the member key, the key phase restarting at every
// 256-byte chunk. Applying it twice gives the original bytes.
void ScrambleMember(std::span<uint8_t> data);
std::vector<uint8_t> EncodePackage(const std::vector<PackageMember>& members);
bool WritePackage(const std::filesystem::path& path, const std::vector<PackageMember>& members);
// The usual members: program.cmd, restriction.ini (scrambled), then the data files.
std::vector<PackageMember> StandardMembers(const std::string& script, const std::string& restrictions,
                                           std::vector<PackageMember> dataMembers = {});

}  // namespace quorvane
