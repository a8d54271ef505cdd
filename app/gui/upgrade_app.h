#pragma once
// The application object: endpoint start, settings, the package loop and
// the dialog loop, then the end of the program.

#include <QSettings>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "app/app_loops.h"
#include "app/gui/command_line.h"
#include "app/history_recorder.h"
#include "app/link_stack.h"
#include "app/session_results.h"

namespace quorvane {

inline constexpr int RECENT_FILE_COUNT = 4;

// The windows the loops talk to; tests give scripted ones.
struct AppWindows {
    Prompter& prompter;
    PackageChooser& chooser;
    DeviceListScreen& screen;
    SearchIndicator* search = nullptr;
};

// Application name and version, used for box captions and the settings.
void SetApplicationIdentity();

// The recent-file list of the per-user settings, at most four names. It is
// only read: the program never adds to it.
QStringList LoadRecentFiles(QSettings& settings);

// Asks for a package until one is ready for runs, then shows the device
// list after every admission pass until Done; the package is closed at the
// end. False when the user cancelled the prompt. `events`, when given,
// receives each admission pass's events; `checked`, when given, the
// package's check, before the list is first shown. `endpoint`, when given,
// is what the searches send by: the first that no device answers is
// followed by the hint of what to look at.
bool RunProgram(AppWindows windows, UpgradePackage& package, DeviceProtocol& protocol,
                Restrictions& restrictions, EventStream* events = nullptr, const RunOutputs& outputs = {},
                const TrustOptions& trust = {}, PackageCheck* checked = nullptr,
                const EndpointOptions* endpoint = nullptr);

class TerminationCleanup;

// What the options ask of the link stack (LinkSettingsOf); its outer layer
// keeps the windows painted during the waits of the user-interface thread.
LinkSettings DesktopLinkSettings(const AppOptions& options);

class UpgradeApp {
public:
    // `termination`, when given, removes the open package's folder on a
    // signal and stops an upgrade under way.
    explicit UpgradeApp(AppOptions options, TerminationCleanup* termination = nullptr);
    // Opens the capture, log and events files and the history the options
    // ask for; false with `error` saying why. Nothing may be sent without
    // them; only the default history may fail (HistoryWarning).
    bool OpenOutputs(std::string& error);
    // Why the runs are not recorded at the default path; empty when they are.
    const std::string& HistoryWarning() const { return history_.warning; }
    // Runs the whole program; always false, as there is nothing left to run
    // when it returns.
    bool InitInstance();
    // Closes the files written besides the windows, once; why each that
    // could not be written to the end is incomplete.
    std::vector<std::string> CloseOutputs();

private:
    AppOptions options_;
    TerminationCleanup* termination_;
    // The socket stays open as long as the application object lives, that
    // is until the process ends.
    LinkStack links_;
    // What this program's runs came to, for the device list's "Last result".
    SessionResults session_;
    bool outputsClosed_ = false;
    HistoryStart history_;
};

}  // namespace quorvane
