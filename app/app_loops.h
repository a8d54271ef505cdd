#pragma once
// Start-up, the package loop and the dialog loop, with every window behind a
// small interface so that both front ends and the tests can drive them.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/output_paths.h"
#include "app/package_trust.h"
#include "app/prompter.h"
#include "package/package_check.h"
#include "package/restrictions.h"
#include "package/upgrade_package.h"
#include "protocol/device_protocol.h"
#include "protocol/udp_endpoint.h"
#include "res/dialog_codes.h"

namespace quorvane {

// The file-open prompt; nothing for Cancel.
class PackageChooser {
public:
    virtual ~PackageChooser() = default;
    virtual std::optional<std::filesystem::path> Choose() = 0;
};

// The device list dialog as the loop sees it: shown modally over the
// admitted devices, it returns its result code.
class DeviceListScreen {
public:
    virtual ~DeviceListScreen() = default;
    virtual int Show(const std::string& packageName, UpgradePackage& package,
                     std::vector<AdmittedDevice>& devices) = 0;
};

// Told while an admission pass searches for devices (a busy window).
class SearchIndicator {
public:
    virtual ~SearchIndicator() = default;
    virtual void SearchStarted() = 0;
    virtual void SearchEnded() = 0;
};

// What start-up needs of the endpoint, so that a test can make it fail.
class StartableEndpoint {
public:
    virtual ~StartableEndpoint() = default;
    virtual bool Start() = 0;
    virtual void Close() = 0;
    // The system's error number of a failed Start, 0 when unknown.
    virtual int StartError() const { return 0; }
};

// Starts the endpoint; on failure closes it, shows IDS_SOCKETS_FAILED with the
// system's reason (EndpointFailureText) and returns false.
bool StartEndpoint(UdpEndpoint& endpoint, Prompter& prompter);
bool StartEndpoint(StartableEndpoint& endpoint, Prompter& prompter);

// Asks for a package until one opens and passes the package check, or the
// user cancels. A package that fails to open, or whose check finds errors,
// gets IDS_INVALID_PACKAGE (with the errors) and the prompt again; warnings are
// shown once. The working directory becomes the chosen file's folder.
// Returns the package's file name (no folder), or nothing for Cancel.
// `outputs` are the files the program writes besides READ: a package whose
// READ would write one of them is refused the same way. The package is
// made ready by OpenForRun, its signature judged by `trust` (a refusal is
// told as errors are); its check goes to `checked` when given.
std::optional<std::string> RunPackageLoop(PackageChooser& chooser, UpgradePackage& package,
                                          Prompter& prompter, const RunOutputs& outputs = {},
                                          const TrustOptions& trust = {}, PackageCheck* checked = nullptr);

// Where a search that no device answered at all is told so, and what
// the endpoint sent by, for the hint of what to look at (NoDeviceHint).
struct NoDeviceHelp {
    Prompter& prompter;
    EndpointOptions endpoint;
};

// Admission pass, dialog, array emptied, chain cleared - until the dialog
// ends with DIALOG_CANCEL. Closes the package at the end. `events`, when
// given, receives each pass's "discovered" and "admitted" events, these
// with `keyId`, the package's signer. With `help`, the first pass that no
// device answered at all is followed by an information box with the
// desktop program's hint (IDS_NO_DEVICE_ANSWERED), once: the empty list is
// shown after it, and a later empty pass says nothing.
void RunDialogLoop(const std::string& packageName, UpgradePackage& package, DeviceProtocol& protocol,
                   Restrictions& restrictions, DeviceListScreen& screen, SearchIndicator* search = nullptr,
                   EventStream* events = nullptr, const std::string& keyId = {}, const NoDeviceHelp* help = nullptr);

}  // namespace quorvane
