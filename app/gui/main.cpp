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
#include "res/string_format.h"
#include "res/string_ids.h"
#include "res/version_line.h"

namespace {

// A line on stderr under the program's name.
void Complain(const char* text) {
    std::fprintf(stderr, "quorvane-upgrade: %s\n", text);
}

}  // namespace

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
        Complain(qPrintable(error));
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
        Complain(packageOutput.c_str());
        return 2;
    }
    // Opened before anything is sent, so an output that cannot be written
    // stops the program like any other bad option.
    quorvane::UpgradeApp app(options, &termination);
    std::string outputError;
    if (!app.OpenOutputs(outputError)) {
        Complain(outputError.c_str());
        return 2;
    }
    if (const std::string& warning = app.HistoryWarning(); !warning.empty())
        Complain(("warning: " + quorvane::FormatPlaceholders(quorvane::IDS_HISTORY_NOT_RECORDED, {warning})).c_str());
    // What the program wrote besides its windows, closed at the end; false
    // when any of it could not be written to the end (said on stderr).
    const auto closeOutputs = [&] {
        bool whole = true;
        for (const std::string& lost : app.CloseOutputs()) {
            Complain(lost.c_str());
            whole = false;
        }
        // --events - writes there.
        if (!std::cout.flush()) {
            Complain("some output could not be written to stdout");
            whole = false;
        }
        return whole;
    };
    termination.SetFinalWrites([&] { closeOutputs(); });
    app.InitInstance();
    const bool whole = closeOutputs();
    const int code = termination.Requested() ? termination.ExitCode() : 0;
    return whole ? code : quorvane::WithLostOutput(code);
}
