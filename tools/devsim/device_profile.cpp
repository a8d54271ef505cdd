#include "tools/devsim/device_profile.h"

#include <cstdio>

namespace quorvane::devsim {
namespace {

struct Flavour {
    uint16_t deviceId;
    const char* name;  // printf pattern taking the device number
    const char* workgroup;
};

// Device ids spread over the port configurations and connectors the device
// list knows, so a default set shows several device types.
constexpr Flavour FLAVOURS[] = {
    {0x70FC, "Press Line %u", "Production"},
    {0x68F8, "Dock Printer %u", "Shipping"},
    {0x50D8, "Boiler Gate %u", "Utilities"},
    {0x78F0, "Label Unit %u", "Shipping"},
    {0x60F4, "", "Production"},
    {0x58E0, "Scale Hub %u", "Lab"},
};
constexpr char LETTERS[][4] = {"QVN", "QVN", "QVS", "XYZ"};

DeviceProfile MakeDefault(std::size_t index) {
    const unsigned number = static_cast<unsigned>(index + 1);
    const Flavour& flavour = FLAVOURS[index % std::size(FLAVOURS)];
    DeviceProfile p;
    p.mac = {0x02,
             0x00,
             0x00,
             static_cast<uint8_t>(number >> 16),
             static_cast<uint8_t>(number >> 8),
             static_cast<uint8_t>(number)};
    // Both vendor ids that a package for 0x1407 admits.
    p.vendorId = (index % 3 == 1) ? 0x1000 : 0x1407;
    p.deviceId = flavour.deviceId;
    char name[64];
    std::snprintf(name, sizeof name, flavour.name, number);
    p.name = std::string(name).substr(0, NAME_ROOM - 1);
    p.workgroup = flavour.workgroup;
    // The first three devices share product and revision so that one package
    // upgrades all of them; later ones differ to exercise the checks.
    p.productId = (index % 4 == 3) ? 0x0202 : 0x0101;
    p.revisionId = (index % 5 == 4) ? 3 : 4;
    p.versionSecond = static_cast<uint8_t>(index % 3);
    p.versionThird = static_cast<uint8_t>((index * 7 + 2) % 10);
    const char* letters = LETTERS[index % std::size(LETTERS)];
    p.firmwareLetters = {letters[0], letters[1], letters[2]};
    p.dateFirst = static_cast<uint16_t>(1 + index % 12);
    // Every seventh device reports no firmware date, which the list shows as "Upgrade".
    p.dateSecond = (index % 7 == 6) ? 0 : static_cast<uint8_t>(1 + (index * 5) % 28);
    p.dateThird = static_cast<uint8_t>(15 + index % 10);
    return p;
}

}  // namespace

std::vector<DeviceProfile> DefaultProfiles(std::size_t count) {
    std::vector<DeviceProfile> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(MakeDefault(i));
    return out;
}

std::string MacFileStem(const MacAddress& mac) {
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

std::string DumpFileStem(const DeviceProfile& profile) {
    const std::string stem = MacFileStem(profile.mac);
    return profile.sameMacBefore == 0 ? stem : stem + "-" + std::to_string(profile.sameMacBefore + 1);
}

void DeviceProfile::Report(const FirmwareRelease& release) {
    revisionId = release.revisionId;
    versionSecond = release.versionSecond;
    versionThird = release.versionThird;
    dateFirst = release.dateFirst;
    dateSecond = release.dateSecond;
    dateThird = release.dateThird;
}

}  // namespace quorvane::devsim
