#include "tools/upgradectl/command_error.h"
#include "tools/upgradectl/device_listing.h"

#include <algorithm>
#include <iostream>

#include "app/no_device_hint.h"
#include "app/output_paths.h"
#include "package/device_summary.h"
#include "protocol/info_queries.h"
#include "protocol/ipv4_text.h"
#include "protocol/mac_text.h"
#include "res/string_table.h"

namespace quorvane::cli {

std::vector<std::string> LostLines(const std::vector<std::string>& reasons) {
    std::vector<std::string> lines;
    for (const std::string& reason : reasons) lines.push_back(Said(reason));
    return lines;
}

std::string ExpectationShortfall(std::size_t count, int expected, const char* what) {
    if (count >= static_cast<std::size_t>(std::max(expected, 0))) return {};
    return Said(std::to_string(count) + " device(s) " + what + ", " + std::to_string(expected) +
           " expected; nothing was done");
}

bool MeetsExpectation(std::size_t count, int expected, const char* what) {
    const std::string shortfall = ExpectationShortfall(count, expected, what);
    if (!shortfall.empty()) std::cerr << shortfall << '\n';
    return shortfall.empty();
}

bool OutputsSparePackage(const std::string& capture, const std::string& logFile, const std::string& events,
                         const std::filesystem::path& package, std::string& error) {
    return OutputsSpareEachOther({capture, logFile, events, {}, {}}, package, error);
}

bool OutputsSpareEachOther(const RunOutputs& outputs, const std::filesystem::path& package, std::string& error) {
    const std::string named = OutputClash(outputs, package);
    if (named.empty()) return true;
    error = Said(named);
    return false;
}

bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package, std::string& error) {
    if (package.Open(path)) return true;
    // This computer's fault is no reason to doubt the package.
    if (!package.OpenError().empty())
        error = Said(package.OpenError());
    else
        error = InvalidPackageText(package.FileError(), path.string());
    return false;
}

bool OpenChecked(const std::filesystem::path& path, UpgradePackage& package, const TrustOptions& trust,
                 PackageCheck& check, std::string& error) {
    JudgedPackage opened = OpenJudged(path, package, trust);
    if (opened.opened) {
        check = std::move(opened.check);
        return true;
    }
    if (!package.OpenError().empty())
        error = Said(package.OpenError());
    else
        error = InvalidPackageText(opened.fileError, path.string());
    return false;
}

std::string InvalidPackageText(const std::string& fileError, const std::string& path) {
    return (fileError.empty() ? "" : Said(fileError) + "\n") + LoadString(IDS_INVALID_PACKAGE) + ": " + path;
}

std::vector<AdmittedDevice> ListAllDevices(DeviceProtocol& protocol) {
    std::vector<AdmittedDevice> devices;
    for (const FoundDevice& device : DiscoverAndQueryAll(protocol)) {
        if (!device.answered)
            std::cerr << MESSAGE_PREFIX << "no information reply from " << FormatMac(device.record->mac) << '\n';
        devices.push_back(WithSummary(*device.record));
    }
    return devices;
}

std::string IgnoredRepliesLine(const DiscoveryReport& report) {
    if (report.ignoredReplies == 0) return {};
    std::string macs;
    for (const MacAddress& mac : report.ignoredMacs) macs += (macs.empty() ? "" : ", ") + FormatMac(mac);
    if (report.moreIgnoredMacs) macs += ", ...";
    return Said("ignored ") + std::to_string(report.ignoredReplies) +
           (report.ignoredReplies == 1 ? " reply" : " replies") + " whose MAC names no single device (" +
           macs + ")";
}

std::string SharedMacWarning(const DeviceRecord& record) {
    std::string how;
    switch (record.sharedMac) {
        case SharedMac::No:
            return {};
        case SharedMac::TwoAddresses:
            how = "answered from " + FormatIpv4(record.ipAddress) + " and " + FormatIpv4(record.otherAddress);
            break;
        case SharedMac::TwoBlocks:
            how = "answered with two different information blocks";
            break;
    }
    return Said("warning: ") + FormatMac(record.mac) + " " + how +
           ": more than one device has this MAC; it is listed once and will not be upgraded";
}

std::vector<std::string> NoDeviceHint(const DiscoveryReport& report, const EndpointOptions& endpoint) {
    std::vector<std::string> lines = quorvane::NoDeviceHint(report, endpoint, HintFor::Terminal);
    for (std::string& line : lines) line = Said(line);
    return lines;
}

void ReportDiscovery(std::ostream& err, const DiscoveryReport& report,
                     const std::vector<AdmittedDevice>& devices, bool verbose) {
    const std::string ignored = IgnoredRepliesLine(report);
    if (verbose && !ignored.empty()) err << ignored << '\n';
    for (const AdmittedDevice& device : devices) {
        const std::string warning = SharedMacWarning(*device.record);
        if (!warning.empty()) err << warning << '\n';
    }
}

}  // namespace quorvane::cli
