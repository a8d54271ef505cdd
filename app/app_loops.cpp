#include "app/app_loops.h"

#include <system_error>

#include "app/endpoint_failure.h"
#include "app/run_events.h"
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

// The package check, once per opened package: errors make the package as
// good as invalid, warnings are shown once and the package is used.
bool AcceptCheckedPackage(UpgradePackage& package, Prompter& prompter, RunOutputs outputs) {
    const PackageCheck check = CheckPackage(package, package.PackageFolder());
    outputs.reads = ReadOutputsOf(check);
    // This computer's faults are said as such, never under the package's name.
    std::string local = check.localError;
    if (!check.HasErrors()) local = OutputClash(outputs, package.PackagePath());
    if (!local.empty()) {
        prompter.Tell(IDS_INVALID_PACKAGE, local, BOX_OK);
        package.Close();
        return false;
    }
    if (check.HasErrors()) {
        prompter.Tell(IDS_INVALID_PACKAGE,
                      LoadString(IDS_INVALID_PACKAGE) + "\n" + FindingsText(check, FindingLevel::Error), BOX_OK);
        package.Close();
        return false;
    }
    if (check.HasWarnings())
        prompter.Tell(IDS_PACKAGE_WARNINGS,
                      LoadString(IDS_PACKAGE_WARNINGS) + "\n" + FindingsText(check, FindingLevel::Warning),
                      BOX_OK | ICON_INFORMATION);
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
                                          Prompter& prompter, const RunOutputs& outputs) {
    for (;;) {
        const std::optional<std::filesystem::path> choice = chooser.Choose();
        if (!choice) return std::nullopt;
        const std::filesystem::path path = Absolute(*choice);
        // Script READ output and relative names belong next to the package;
        // a folder that cannot be entered still leaves the package readable
        // by its absolute path, so that failure is not the user's concern.
        std::error_code ignored;
        std::filesystem::current_path(path.parent_path(), ignored);
        if (!package.Open(path)) {
            // A private folder that cannot be made is said as such, never
            // blamed on the package.
            const std::string& local = package.OpenError();
            prompter.Tell(IDS_INVALID_PACKAGE, local.empty() ? LoadString(IDS_INVALID_PACKAGE) : local, BOX_OK);
            continue;
        }
        if (AcceptCheckedPackage(package, prompter, outputs)) return path.filename().string();
    }
}

void RunDialogLoop(const std::string& packageName, UpgradePackage& package, DeviceProtocol& protocol,
                   Restrictions& restrictions, DeviceListScreen& screen, SearchIndicator* search,
                   EventStream* events) {
    std::vector<AdmittedDevice> devices;
    int result = DIALOG_CANCEL;
    do {
        if (search) search->SearchStarted();
        devices = AdmitDevices(package, protocol, restrictions);
        if (search) search->SearchEnded();
        if (events) EmitAdmission(*events, protocol.Chain().Records().size(), devices);
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
