// upgradectl: the command-line front end. Everything but the entry point
// lives in the qv_upgradectl library so that tests can drive it.

#include "tools/upgradectl/checked_streams.h"
#include "tools/upgradectl/commands.h"

int main(int argc, char** argv) {
    quorvane::cli::CheckedStandardStreams streams;
    return streams.Finish(quorvane::cli::RunCli(argc, argv));
}
