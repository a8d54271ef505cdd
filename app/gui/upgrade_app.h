#pragma once
// The application object: endpoint start, settings, the package loop and
// the dialog loop, then the end of the program.

#include <QSettings>
#include <QStringList>
#include <memory>

#include "app/app_loops.h"
#include "app/event_stream.h"
#include "app/gui/command_line.h"
#include "protocol/pcap_writer.h"
#include "protocol/trace_sink.h"

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

// Asks for a package until one opens, then shows the device list after
// every admission pass until Done; the package is closed at the end. False
// when the user cancelled the prompt. `events`, when given, receives each
// admission pass's events.
bool RunSession(AppWindows windows, UpgradePackage& package, DeviceProtocol& protocol,
                Restrictions& restrictions, EventStream* events = nullptr, const RunOutputs& outputs = {});

// The files the options ask the program to write, as the clash check sees them.
RunOutputs OutputsOf(const AppOptions& options);

class TerminationCleanup;

class UpgradeApp {
public:
    // `termination`, when given, removes the open package's folder on SIGTERM;
    // `capture`, when given, receives every datagram and `trace` the packet
    // trace, and `events` the run's events; all must outlive the run.
    explicit UpgradeApp(AppOptions options, TerminationCleanup* termination = nullptr,
                        PcapWriter* capture = nullptr, TraceSink* trace = nullptr, EventStream* events = nullptr)
        : options_(std::move(options)),
          termination_(termination),
          capture_(capture),
          trace_(trace),
          events_(events) {}
    // Runs the whole program; always false, as there is nothing left to run
    // when it returns.
    bool InitInstance();

private:
    AppOptions options_;
    TerminationCleanup* termination_;
    PcapWriter* capture_;
    TraceSink* trace_;
    EventStream* events_;
    std::unique_ptr<UdpEndpoint> endpoint_;
};

}  // namespace quorvane
