#include "app/gui/upgrade_app.h"

#include <QApplication>
#include <optional>

#include "app/gui/device_list_dialog.h"
#include "app/gui/event_pumping_transport.h"
#include "app/gui/file_chooser.h"
#include "app/gui/gui_text.h"
#include "app/gui/message_box_prompter.h"
#include "app/gui/search_window.h"
#include "app/gui/termination_cleanup.h"
#include "app/output_paths.h"
#include "res/string_format.h"
#include "res/string_table.h"
#include "res/version_line.h"

namespace quorvane {

void SetApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("Upgrade"));
    QCoreApplication::setApplicationVersion(QString::fromStdString(DisplayVersion()));
    QCoreApplication::setOrganizationName(TableText(IDS_COMPANY_KEY));
}

QStringList LoadRecentFiles(QSettings& settings) {
    QStringList files;
    settings.beginGroup(QStringLiteral("Recent File List"));
    for (int i = 1; i <= RECENT_FILE_COUNT; ++i) {
        const QString name = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!name.isEmpty()) files << name;
    }
    settings.endGroup();
    return files;
}

bool RunProgram(AppWindows windows, UpgradePackage& package, DeviceProtocol& protocol,
                Restrictions& restrictions, EventStream* events, const RunOutputs& outputs, const TrustOptions& trust,
                PackageCheck* checked, const EndpointOptions* endpoint) {
    PackageCheck ownCheck;
    PackageCheck& check = checked != nullptr ? *checked : ownCheck;
    const std::optional<std::string> packageName =
        RunPackageLoop(windows.chooser, package, windows.prompter, outputs, trust, &check);
    if (!packageName) return false;
    std::optional<NoDeviceHelp> help;
    if (endpoint != nullptr) help.emplace(NoDeviceHelp{windows.prompter, *endpoint});
    RunDialogLoop(*packageName, package, protocol, restrictions, windows.screen, windows.search, events,
                  KeyIdOf(check), help ? &*help : nullptr);
    return true;
}

LinkSettings DesktopLinkSettings(const AppOptions& options) {
    LinkSettings settings = LinkSettingsOf(options, options.endpoint, true);
    settings.outerLayer = [](Transport& traced) { return std::make_unique<EventPumpingTransport>(traced); };
    return settings;
}

UpgradeApp::UpgradeApp(AppOptions options, TerminationCleanup* termination)
    : options_(std::move(options)), termination_(termination), links_(DesktopLinkSettings(options_)) {}

bool UpgradeApp::OpenOutputs(std::string& error) {
    if (!links_.OpenFiles(error)) return false;
    history_ = StartHistory(options_, "quorvane-upgrade", options_.jobs, 0);
    if (history_.error.empty()) return true;
    error = FormatPlaceholders(IDS_HISTORY_REFUSED, {history_.error});
    return false;
}

std::vector<std::string> UpgradeApp::CloseOutputs() {
    if (outputsClosed_) return {};
    outputsClosed_ = true;
    std::vector<std::string> lost = links_.CloseCaptureAndLog();
    if (std::string failure = links_.EventsFailure(); !failure.empty()) lost.push_back(std::move(failure));
    return lost;
}

bool UpgradeApp::InitInstance() {
    MessageBoxPrompter prompter;
    std::string error;
    if (!links_.Start(error)) {
        prompter.Tell(IDS_SOCKETS_FAILED, error, BOX_OK);
        return false;
    }

    QSettings settings(TableText(IDS_COMPANY_KEY), QCoreApplication::applicationName());
    const QStringList recent = LoadRecentFiles(settings);
    (void)recent;  // loaded as the platform's applications do; never shown

    Restrictions restrictions;
    UpgradePackage package;
    PackageCheck check;
    const TerminationCleanup::Watched watched(termination_, package);
    FileChooser fileChooser;
    FirstChoiceChooser chooser(options_.package, fileChooser);
    DeviceListDialog dialog(links_.Protocol(), restrictions, prompter);
    dialog.SetRunLinks(links_);
    dialog.SetPackageCheck(&check);
    dialog.SetRunOutputs(OutputsOf(options_));
    dialog.SetSessionResults(&session_);
    dialog.SetJobs(static_cast<std::size_t>(options_.jobs));
    dialog.SetReturnLimit(ReturnLimitOf(options_));
    dialog.SetTermination(termination_);
    dialog.SetHistory(history_.recorder.get());
    // The window reads what earlier runs recorded even when this one records
    // nothing (--no-history).
    dialog.SetHistoryPath(HistoryPathOf(options_));
    SearchWindow search;
    EventStream* events = links_.Events().IsOpen() ? &links_.Events() : nullptr;
    RunProgram({prompter, chooser, dialog, &search}, package, links_.Protocol(), restrictions, events,
               OutputsOf(options_), TrustOptionsOf(options_), &check, &options_.endpoint);
    return false;
}

}  // namespace quorvane
