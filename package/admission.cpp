#include <algorithm>
#include <string>
#include <vector>

#include "package/device_summary.h"
#include "package/line_reader.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "protocol/info_block.h"
#include "protocol/info_queries.h"

namespace quorvane {

namespace {

// The restriction record keeps at most 19 characters of a MAC value. What
// does not fit is ignored, but the restriction itself stays: a package meant
// for one device must never become a package for every device.
constexpr std::size_t MAC_TEXT_LIMIT = SUMMARY_TEXT_ROOM - 1;

// Every item before a comma becomes an entry, an empty item the entry 0;
// items beyond the list's capacity are ignored.
void ReadDeviceIds(const RestrictionFile& file, Restrictions& restrictions) {
    restrictions.deviceIdList.fill(0);
    restrictions.deviceIdCount = 0;
    std::string text;
    if (!file.LookupText("DEVICEID", text)) return;
    text += ',';
    std::size_t start = 0;
    for (std::size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
        if (restrictions.deviceIdCount == DEVICEID_CAPACITY) break;
        // An item reads as a script number does: strtol with base 0, low 16 bits kept.
        restrictions.deviceIdList[restrictions.deviceIdCount++] =
            TokenNumber16(std::string_view(text).substr(start, comma - start));
        start = comma + 1;
    }
}

void ReadMac(const RestrictionFile& file, Restrictions& restrictions) {
    std::string text;
    if (!file.LookupText("MAC", text)) return;
    if (text.size() > MAC_TEXT_LIMIT) text.resize(MAC_TEXT_LIMIT);
    restrictions.macText = text;
    restrictions.macRestricted = true;
    Restrictions::ParseMac(text, restrictions.wantedMac);
}

// A key that restricts by being present must not lift its restriction by
// being written wrongly: lines of it that all fail to count admit nothing.
bool AdmitsNone(const RestrictionFile& file) {
    for (const RestrictionKey& key : RESTRICTION_KEYS) {
        if (!key.voidAdmitsNone) continue;
        const std::vector<KeyLine> lines = file.KeyLines(key.name);
        if (!lines.empty() &&
            std::none_of(lines.begin(), lines.end(), [](const KeyLine& l) { return l.Counts(); }))
            return true;
    }
    return false;
}

// Reads every key from one reading of the file; false when a required one
// is missing, which ends the pass.
bool ReadRestrictions(UpgradePackage& package, Restrictions& restrictions) {
    const RestrictionFile file = RestrictionFile::Read(package);
    restrictions.macRestricted = false;
    restrictions.admitsNone = AdmitsNone(file);
    if (!file.LookupNumber("PRODUCTID", restrictions.wantedProductId)) return false;
    ReadDeviceIds(file, restrictions);
    if (!file.LookupNumber("VENDORID", restrictions.wantedVendorId)) return false;
    if (!file.LookupNumber("REVISIONID", restrictions.wantedRevisionId)) return false;
    if (!file.LookupNumber("DEFAULT", restrictions.defaultsWarning)) return false;
    ReadMac(file, restrictions);
    return true;
}

bool VendorAdmitted(const Restrictions& restrictions, uint16_t vendor) {
    if (vendor == restrictions.wantedVendorId) return true;
    return restrictions.wantedVendorId == PRIMARY_VENDOR && vendor == ALTERNATE_VENDOR;
}

bool DeviceIdAdmitted(const Restrictions& restrictions, uint16_t deviceId) {
    if (restrictions.deviceIdCount == 0) return true;
    for (std::size_t i = 0; i < restrictions.deviceIdCount; ++i) {
        const auto differing = static_cast<uint8_t>((deviceId ^ restrictions.deviceIdList[i]) & 0xFF);
        if ((differing & DEVICEID_COMPARED_BITS) == 0) return true;
    }
    return false;
}

// Called for each device that answered its information query; true when
// it is admitted, else `refusal` says why.
bool Admitted(const Restrictions& restrictions, const DeviceRecord& record, AdmissionRefusal& refusal) {
    const auto block = DeviceRecord::InfoBlock(&record);
    uint16_t vendor = 0;
    InfoBlock::VendorId(block, vendor);
    if (!VendorAdmitted(restrictions, vendor)) {
        refusal.reason = AdmissionRefusal::Reason::Vendor;
        refusal.value = vendor;
        return false;
    }
    uint16_t deviceId = 0;
    InfoBlock::DeviceId(block, deviceId);
    if (DeviceIdAdmitted(restrictions, deviceId)) return true;
    refusal.reason = AdmissionRefusal::Reason::DeviceId;
    refusal.value = static_cast<uint16_t>(deviceId & DEVICEID_COMPARED_BITS);
    return false;
}

}  // namespace

std::vector<AdmittedDevice> AdmitDevices(UpgradePackage& package, DeviceProtocol& protocol,
                                         Restrictions& restrictions, std::vector<AdmissionRefusal>* refused) {
    std::vector<AdmittedDevice> admitted;
    // Such a package sends nothing, not even a discovery.
    if (!ReadRestrictions(package, restrictions) || restrictions.admitsNone) return admitted;
    // Every device is asked at once; the admitted ones keep the chain's order.
    for (const FoundDevice& device : DiscoverAndQueryAll(protocol)) {
        AdmissionRefusal refusal{device.record, AdmissionRefusal::Reason::NoInformation, 0};
        if (device.answered && Admitted(restrictions, *device.record, refusal))
            admitted.push_back(WithSummary(*device.record));
        else if (refused != nullptr)
            refused->push_back(refusal);
    }
    return admitted;
}

}  // namespace quorvane
