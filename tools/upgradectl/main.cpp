// upgradectl: the command-line front end. Everything but the entry point
// lives in the qv_upgradectl library so that tests can drive it.

#include "app/descriptor_limit.h"
#include "app/interrupt_watch.h"
#include "tools/upgradectl/checked_streams.h"
#include "tools/upgradectl/commands.h"

int main(int argc, char** argv) {
    // Before anything is written: a reader that went away must not end the
    // program, whatever the command (see InterruptWatch).
    quorvane::InterruptWatch::IgnoreBrokenPipes();
    // Each device upgraded side by side holds a socket and a file. Where the
    // limit cannot be raised, the upgrade command counts what room there is
    // and says so; nothing else needs to know.
    quorvane::RaiseDescriptorLimit();
    quorvane::cli::CheckedStandardStreams streams;
    return streams.Finish(quorvane::cli::RunCli(argc, argv));
}
