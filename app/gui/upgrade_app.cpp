#include "app/gui/upgrade_app.h"

#include <QApplication>

#include "app/gui/device_list_dialog.h"
#include "app/gui/event_pumping_transport.h"
#include "app/gui/file_chooser.h"
#include "app/gui/gui_text.h"
#include "app/gui/message_box_prompter.h"
#include "app/gui/search_window.h"
#include "app/gui/termination_cleanup.h"
#include "protocol/recording_transport.h"
#include "protocol/tracing_transport.h"
#include "res/string_table.h"

namespace quorvane {

void SetApplicationIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("Upgrade"));
    QCoreApplication::setApplicationVersion(QStringLiteral("4.00.02"));
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

RunOutputs OutputsOf(const AppOptions& options) {
    return {options.capture ? options.capture->string() : std::string(),
            options.logFile ? options.logFile->string() : std::string(), options.events, {},
            options.events == "-" ? "--events -" : ""};
}

bool RunSession(AppWindows windows, UpgradePackage& package, DeviceProtocol& protocol,
                Restrictions& restrictions, EventStream* events, const RunOutputs& outputs) {
    const std::optional<std::string> packageName =
        RunPackageLoop(windows.chooser, package, windows.prompter, outputs);
    if (!packageName) return false;
    RunDialogLoop(*packageName, package, protocol, restrictions, windows.screen, windows.search, events);
    return true;
}

bool UpgradeApp::InitInstance() {
    MessageBoxPrompter prompter;
    // The socket stays open as long as the application object lives, that
    // is until the process ends.
    endpoint_ = std::make_unique<UdpEndpoint>(options_.endpoint);
    UdpEndpoint& endpoint = *endpoint_;
    if (!StartEndpoint(endpoint, prompter)) return false;

    QSettings settings(TableText(IDS_COMPANY_KEY), QCoreApplication::applicationName());
    const QStringList recent = LoadRecentFiles(settings);
    (void)recent;  // loaded as the platform's applications do; never shown

    RecordingTransport recorder(endpoint);
    if (capture_ != nullptr) recorder.RecordInto(*capture_, endpoint);
    TracingTransport tracer(recorder, trace_);
    EventPumpingTransport link(tracer);
    DeviceChain chain;
    DeviceProtocol protocol(link, chain);
    Restrictions restrictions;
    UpgradePackage package;
    const TerminationCleanup::Watched watched(termination_, package);
    FileChooser fileChooser;
    FirstChoiceChooser chooser(options_.package, fileChooser);
    DeviceListDialog dialog(protocol, restrictions, prompter);
    dialog.SetEvents(events_);
    dialog.SetTermination(termination_);
    SearchWindow search;
    RunSession({prompter, chooser, dialog, &search}, package, protocol, restrictions, events_,
               OutputsOf(options_));
    return false;
}

}  // namespace quorvane
