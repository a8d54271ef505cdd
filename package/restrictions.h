#pragma once
// The keys of restriction.ini and the admission pass that applies them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/device_summary.h"
#include "protocol/device_protocol.h"
#include "protocol/packet.h"

namespace quorvane {

class UpgradePackage;

inline constexpr std::size_t DEVICEID_CAPACITY = 10;

struct RestrictionKey {
    const char* name;
    bool number;    // one 16-bit number; otherwise text (a DEVICEID list, a MAC)
    bool required;  // without it the package admits no device
    // Optional, and restricting by its presence: when it is given but no
    // line of it counts, the package admits no device rather than every one.
    bool voidAdmitsNone;
};

// The keys in the order an admission pass reads them.
inline constexpr RestrictionKey RESTRICTION_KEYS[] = {
    {"PRODUCTID", true, true, false},  {"DEVICEID", false, false, true}, {"VENDORID", true, true, false},
    {"REVISIONID", true, true, false}, {"DEFAULT", true, true, false},   {"MAC", false, false, true},
};
inline constexpr uint16_t ALTERNATE_VENDOR = 0x1000;
inline constexpr uint16_t PRIMARY_VENDOR = 0x1407;  // also admits ALTERNATE_VENDOR

// A line of the restriction file whose first token is a key, whatever it holds.
struct KeyLine {
    int line = 0;  // physical line, from 1
    uint8_t tokens = 0;
    std::string value;  // token 2, as written

    // Only a line of exactly the key and one value counts.
    bool Counts() const { return tokens == 2; }
};

// The restriction file read once: every line whose first token could be a
// key, so that a pass over all keys reads the file one time, not once per key.
class RestrictionFile {
public:
    // Reads the package's extracted restriction file; with no file, no line.
    static RestrictionFile Read(const UpgradePackage& package);
    // Reads `text` as the restriction file.
    static RestrictionFile Parse(std::string text);

    bool Readable() const { return readable_; }
    // The first line of exactly two tokens whose first is `key` (any case,
    // surrounding spaces ignored) gives the value.
    bool LookupNumber(std::string key, uint16_t& out) const;
    bool LookupText(std::string key, std::string& out) const;
    // Every line whose first token is `key`, in file order.
    std::vector<KeyLine> KeyLines(std::string key) const;

private:
    struct Line {
        std::string key;  // token 1, upper-cased
        KeyLine keyLine;
    };
    const Line* FindCounting(std::string key) const;

    bool readable_ = false;
    std::vector<Line> lines_;
};

struct Restrictions {
    // A MAC or DEVICEID line is present but none of them counts: such a
    // package admits no device rather than every device.
    bool admitsNone = false;
    bool macRestricted = false;
    MacAddress wantedMac{};
    std::string macText;
    uint16_t defaultsWarning = 0;
    uint16_t wantedRevisionId = 0;
    std::array<uint16_t, DEVICEID_CAPACITY> deviceIdList{};
    uint16_t deviceIdCount = 0;
    uint16_t wantedVendorId = 0;
    uint16_t wantedProductId = 0;

    // Each lookup reads the extracted restriction file anew (see RestrictionFile
    // for a pass over several keys); the first line of exactly two tokens
    // whose first is the key wins.
    static bool LookupNumber(UpgradePackage& package, std::string key, uint16_t& out);
    static bool LookupText(UpgradePackage& package, std::string key, std::string& out);
    static void ParseMac(std::string_view text, MacAddress& out);
    // Every line whose first token is `key`, in file order.
    static std::vector<KeyLine> KeyLines(UpgradePackage& package, std::string key);
};

// Why a device that answered the discovery was not admitted.
struct AdmissionRefusal {
    enum class Reason {
        NoInformation,  // the device did not answer its information query
        Vendor,         // VENDORID does not admit `value`, the device's vendor id
        DeviceId,       // no DEVICEID entry admits `value`, the device's port type
    };
    DeviceRecord* record = nullptr;
    Reason reason = Reason::NoInformation;
    uint16_t value = 0;
};

// Only bits 2-7 of a device id's low byte are compared: they select the
// port configuration, while bits 0-1 vary between otherwise equal devices.
inline constexpr uint8_t DEVICEID_COMPARED_BITS = 0xFC;

// One admission pass: reads the keys into `restrictions`, discovers, queries
// every device and returns the admitted ones with their summaries (newest
// reply first). `refused`, when given, gets every other device that
// answered the discovery, with why.
std::vector<AdmittedDevice> AdmitDevices(UpgradePackage& package, DeviceProtocol& protocol,
                                         Restrictions& restrictions,
                                         std::vector<AdmissionRefusal>* refused = nullptr);

}  // namespace quorvane
