#pragma once
// What the commands that talk to devices share: the package opened with its
// message, and the lines that report a discovery on stderr.

#include <iostream>
#include <string>
#include <vector>

#include <filesystem>

#include "app/link_stack.h"
#include "app/output_paths.h"
#include "app/package_trust.h"
#include "tools/upgradectl/global_options.h"
#include "package/device_summary.h"
#include "package/upgrade_package.h"

namespace quorvane::cli {

// The lines for stderr (with "upgradectl: ") of the files that could not be
// written to the end.
std::vector<std::string> LostLines(const std::vector<std::string>& reasons);

// "Invalid Upgrade File: PATH", after the line of `fileError` (the file
// could not be read at all) when there is one.
std::string InvalidPackageText(const std::string& fileError, const std::string& path);
// Opens the package; on failure sets `error` to IDS_INVALID_PACKAGE with the file
// name, or to why this computer could not open it (the private folder).
bool OpenPackage(const std::filesystem::path& path, UpgradePackage& package, std::string& error);
// The same from the bytes `trust` judged (OpenJudged), with the package's
// check, the signature joined, in `check`.
bool OpenChecked(const std::filesystem::path& path, UpgradePackage& package, const TrustOptions& trust,
                 PackageCheck& check, std::string& error);

// True when at least `expected` devices were `what` ("found", "admitted");
// otherwise says how many were, on stderr.
bool MeetsExpectation(std::size_t count, int expected, const char* what);
// The same as a line for stderr; empty when the expectation is met.
std::string ExpectationShortfall(std::size_t count, int expected, const char* what);

// False with `error` set when a file the run would write (--capture,
// --log-file, --events) is the package it reads (none: empty) or another of
// them: opening it would truncate or append to the technician's package or
// to the other output.
bool OutputsSparePackage(const std::string& capture, const std::string& logFile, const std::string& events,
                         const std::filesystem::path& package, std::string& error);
// The same for every output of an upgrade, READ outputs and a report on
// stdout included (see OutputClash).
bool OutputsSpareEachOther(const RunOutputs& outputs, const std::filesystem::path& package, std::string& error);

// One discovery and an information query to every answering device; every
// device is listed in chain order with a summary built from its block
// (an empty one when the query failed).
std::vector<AdmittedDevice> ListAllDevices(DeviceProtocol& protocol);

// "upgradectl: ignored N replies whose MAC names no single device (MAC, ...)";
// empty when discovery ignored none.
std::string IgnoredRepliesLine(const DiscoveryReport& report);
// The warning for a listed device whose MAC answered as more than one
// device, naming the MAC and how that showed; empty for any other device.
std::string SharedMacWarning(const DeviceRecord& record);
// After a discovery that no device answered: the lines for stderr naming
// the interface it left by, `upgradectl interfaces`, --interface, and the
// firewall rule that lets the replies in (app/no_device_hint.h). Empty
// when any device answered or no discovery was sent.
std::vector<std::string> NoDeviceHint(const DiscoveryReport& report, const EndpointOptions& endpoint);

// What the pass leaves to say once the devices are listed or admitted: with
// `verbose` the ignored replies, and always a warning per shared MAC.
void ReportDiscovery(std::ostream& err, const DiscoveryReport& report,
                     const std::vector<AdmittedDevice>& devices, bool verbose);

}  // namespace quorvane::cli
