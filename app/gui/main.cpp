// quorvane-upgrade: upgrades the firmware of device servers on the local
// network from an upgrade package.

#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/gui/command_line.h"
#include "app/gui/termination_cleanup.h"
#include "app/gui/upgrade_app.h"
#include "app/descriptor_limit.h"
#include "app/exit_codes.h"
#include "app/output_paths.h"
#include "protocol/trace_sink.h"
#include "res/version_line.h"

int main(int argc, char** argv) {
    // Before Qt starts any thread: SIGTERM, SIGINT and SIGHUP must reach only the
    // thread that waits for them.
    if (quorvane::AsksForVersion(argc, argv)) {
        std::puts(quorvane::VersionLine("quorvane-upgrade").c_str());
        return 0;
    }
    quorvane::InterruptWatch::BlockSignals();
    // As upgradectl does: the upgrade command's count of the devices that
    // fit side by side goes by the limit in force.
    quorvane::RaiseDescriptorLimit();
    QApplication application(argc, argv);
    quorvane::TerminationCleanup termination;
    quorvane::SetApplicationIdentity();
    quorvane::AppOptions options;
    QString error;
    if (!quorvane::ParseCommandLine(QApplication::arguments(), options, error)) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", qPrintable(error));
        return 2;
    }
    if (!options.help.isEmpty()) {
        std::fputs(qPrintable(options.help), stdout);
        return 0;
    }
    // Checked before any of them is opened: opening would truncate the
    // package or another output.
    const std::string packageOutput = quorvane::OutputClash(
        quorvane::OutputsOf(options), options.package ? *options.package : std::filesystem::path());
    if (!packageOutput.empty()) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", packageOutput.c_str());
        return 2;
    }
    // Opened before anything is sent, so a capture that cannot be written
    // stops the program like any other bad option.
    quorvane::PcapWriter capture;
    std::string captureError;
    if (options.capture && !capture.Open(*options.capture, captureError)) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", captureError.c_str());
        return 2;
    }
    // The log file likewise.
    quorvane::TraceSink trace(std::cerr, options.verbosity);
    std::string logError;
    if (options.logFile && !trace.OpenLog(*options.logFile, options.verbosity, logError)) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", logError.c_str());
        return 2;
    }
    // The events file likewise.
    quorvane::EventStream events;
    std::string eventsError;
    if (!options.events.empty() && !events.Open(options.events, eventsError)) {
        std::fprintf(stderr, "quorvane-upgrade: %s\n", eventsError.c_str());
        return 2;
    }
    // What the program wrote besides its windows, closed at the end; false
    // when any of it could not be written to the end (said on stderr).
    const auto closeOutputs = [&] {
        bool whole = true;
        captureError.clear();
        logError.clear();
        if (!capture.Close(captureError)) {
            std::fprintf(stderr, "quorvane-upgrade: %s\n", captureError.c_str());
            whole = false;
        }
        if (!trace.CloseLog(logError)) {
            std::fprintf(stderr, "quorvane-upgrade: %s\n", logError.c_str());
            whole = false;
        }
        if (const std::string failure = events.Failure(); !failure.empty()) {
            std::fprintf(stderr, "quorvane-upgrade: %s\n", failure.c_str());
            whole = false;
        }
        // --events - writes there.
        if (!std::cout.flush()) {
            std::fprintf(stderr, "quorvane-upgrade: some output could not be written to stdout\n");
            whole = false;
        }
        return whole;
    };
    termination.SetFinalWrites([&] { closeOutputs(); });
    quorvane::UpgradeApp app(options, &termination, capture.IsOpen() ? &capture : nullptr, &trace,
                             events.IsOpen() ? &events : nullptr);
    app.InitInstance();
    const bool whole = closeOutputs();
    const int code = termination.Requested() ? termination.ExitCode() : 0;
    return whole ? code : quorvane::WithLostOutput(code);
}
