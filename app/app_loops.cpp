#include "app/app_loops.h"

#include <cctype>
#include <system_error>

#include "app/endpoint_failure.h"
#include "app/no_device_hint.h"
#include "app/upgrade_run.h"
#include "package/package_check.h"
#include "res/string_table.h"

namespace quorvane {
namespace {

class UdpStartable final : public StartableEndpoint {
public:
    explicit UdpStartable(UdpEndpoint& endpoint) : endpoint_(endpoint) {}
    bool Start() override { return endpoint_.Start(); }
    void Close() override { endpoint_.Close(); }
    int StartError() const override { return endpoint_.StartError(); }

private:
    UdpEndpoint& endpoint_;
};

// The chosen file as an absolute path; the path as given if that fails.
std::filesystem::path Absolute(const std::filesystem::path& chosen) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(chosen, error);
    return error ? chosen : path.lexically_normal();
}

// At most this many findings in one box; a box taller than the screen
// hides its buttons.
constexpr std::size_t BOX_FINDINGS = 15;

std::string FindingsText(const PackageCheck& check, FindingLevel level) {
    std::string text;
    std::size_t shown = 0;
    std::size_t hidden = 0;
    for (const Finding& finding : check.findings) {
        if (finding.level != level) continue;
        if (shown++ < BOX_FINDINGS)
            text.append("\n").append(FormatFinding(finding));
        else
            ++hidden;
    }
    if (hidden > 0) text += "\n... and " + std::to_string(hidden) + " more";
    return text;
}

// What a package that did not become ready says; the gate's own errors
// make the package as good as invalid, and this computer's faults are said
// as such, never under the package's name.
void TellRefused(const PackageGate& gate, Prompter& prompter) {
    if (gate.status == PackageGate::Status::Invalid || gate.status == PackageGate::Status::Untrusted)
        prompter.Tell(IDS_INVALID_PACKAGE,
                      LoadString(IDS_INVALID_PACKAGE) + "\n" + FindingsText(gate.check, FindingLevel::Error),
                      BOX_OK);
    else if (!gate.reason.empty())
        prompter.Tell(IDS_INVALID_PACKAGE, gate.reason, BOX_OK);
    else
        prompter.Tell(IDS_INVALID_PACKAGE,
                      (gate.fileError.empty() ? "" : gate.fileError + "\n") + LoadString(IDS_INVALID_PACKAGE),
                      BOX_OK);
}

// The hint's lines, each starting with a capital, in one box; false when
// the search was answered, so there was nothing to tell.
bool TellNoDevice(const DiscoveryReport& report, const NoDeviceHelp& help) {
    std::string text;
    for (std::string line : NoDeviceHint(report, help.endpoint, HintFor::Desktop)) {
        if (!line.empty()) line[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
        text += (text.empty() ? "" : "\n") + line;
    }
    if (text.empty()) return false;
    help.prompter.Tell(IDS_NO_DEVICE_ANSWERED, text, BOX_OK | ICON_INFORMATION);
    return true;
}

}  // namespace

bool StartEndpoint(UdpEndpoint& endpoint, Prompter& prompter) {
    UdpStartable startable(endpoint);
    return StartEndpoint(startable, prompter);
}

bool StartEndpoint(StartableEndpoint& endpoint, Prompter& prompter) {
    if (endpoint.Start()) return true;
    const int reason = endpoint.StartError();
    endpoint.Close();
    prompter.Tell(IDS_SOCKETS_FAILED, EndpointFailureText(reason), BOX_OK);
    return false;
}

std::optional<std::string> RunPackageLoop(PackageChooser& chooser, UpgradePackage& package,
                                          Prompter& prompter, const RunOutputs& outputs, const TrustOptions& trust,
                                          PackageCheck* checked) {
    for (;;) {
        const std::optional<std::filesystem::path> choice = chooser.Choose();
        if (!choice) return std::nullopt;
        const std::filesystem::path path = Absolute(*choice);
        // Script READ output and relative names belong next to the package;
        // a folder that cannot be entered still leaves the package readable
        // by its absolute path, so that failure is not the user's concern.
        std::error_code ignored;
        std::filesystem::current_path(path.parent_path(), ignored);
        PackageGate gate = OpenForRun(path, package, outputs, trust);
        if (!gate.Ready()) {
            TellRefused(gate, prompter);
            continue;
        }
        // Warnings are shown once and the package is used.
        if (gate.check.HasWarnings())
            prompter.Tell(IDS_PACKAGE_WARNINGS,
                          LoadString(IDS_PACKAGE_WARNINGS) + "\n" + FindingsText(gate.check, FindingLevel::Warning),
                          BOX_OK | ICON_INFORMATION);
        if (checked != nullptr) *checked = std::move(gate.check);
        return path.filename().string();
    }
}

void RunDialogLoop(const std::string& packageName, UpgradePackage& package, DeviceProtocol& protocol,
                   Restrictions& restrictions, DeviceListScreen& screen, SearchIndicator* search,
                   EventStream* events, const std::string& keyId, const NoDeviceHelp* help) {
    std::vector<AdmittedDevice> devices;
    int result = DIALOG_CANCEL;
    bool hinted = false;
    do {
        if (search) search->SearchStarted();
        devices = AdmitAndAnnounce(package, protocol, restrictions, events, keyId);
        if (search) search->SearchEnded();
        if (help != nullptr && !hinted) hinted = TellNoDevice(protocol.LastDiscovery(), *help);
        result = screen.Show(packageName, package, devices);
        // The array refers to records of the chain: it must be empty before
        // the chain frees them.
        devices.clear();
        devices.shrink_to_fit();
        protocol.Chain().Clear();
    } while (result != DIALOG_CANCEL);
    package.Close();
}

}  // namespace quorvane
