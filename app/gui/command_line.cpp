#include "app/gui/command_line.h"

#include <QCommandLineParser>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/network_options.h"

namespace quorvane {
namespace {

std::optional<std::string> ValueIfSet(const QCommandLineParser& parser, const QCommandLineOption& option) {
    if (!parser.isSet(option)) return std::nullopt;
    return parser.value(option).toStdString();
}

// The message for an option the shared parser refused.
QString NetworkOptionError(NetworkOptionFault fault, const QString& interfaceName) {
    switch (fault) {
        case NetworkOptionFault::Broadcast:
            return QStringLiteral("--broadcast needs an IPv4 address");
        case NetworkOptionFault::InterfaceWithBroadcast:
            return QStringLiteral("--interface and --broadcast exclude each other");
        case NetworkOptionFault::Interface:
            return QStringLiteral("no IPv4 interface named '%1'").arg(interfaceName);
        case NetworkOptionFault::Port:
            return QStringLiteral("--port needs a number from 1 to 65535");
        case NetworkOptionFault::WaitMs:
            return QStringLiteral("--wait-ms needs a number from 1 to 60000");
        case NetworkOptionFault::None:
            break;
    }
    return {};
}

}  // namespace

bool AsksForVersion(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") return false;
        if (argument == "--version") return true;
    }
    return false;
}

bool ParseCommandLine(const QStringList& arguments, AppOptions& options, QString& error) {
    QCommandLineParser parser;
    const QCommandLineOption broadcast(
        QStringLiteral("broadcast"),
        QStringLiteral("Send device datagrams to ADDR instead of 255.255.255.255."), QStringLiteral("ADDR"));
    const QCommandLineOption interface(
        QStringLiteral("interface"),
        QStringLiteral("Send device datagrams to the broadcast address of the IPv4 interface NAME, from its "
                       "own address."),
        QStringLiteral("NAME"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Device port (default 4101)."),
                                  QStringLiteral("N"));
    const QCommandLineOption wait(QStringLiteral("wait-ms"),
                                  QStringLiteral("Receive wait in milliseconds (default 1000)."),
                                  QStringLiteral("N"));
    const QCommandLineOption capture(QStringLiteral("capture"),
                                     QStringLiteral("Write every datagram sent and received to FILE (pcap)."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption verbose(
        QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral(
            "Show each request and reply on stderr; twice (-vv) with their bytes in hexadecimal."));
    const QCommandLineOption logFile(
        QStringLiteral("log-file"),
        QStringLiteral("Append the same trace, each entry with its UTC time, to FILE (at least as -v)."),
        QStringLiteral("FILE"));
    const QCommandLineOption events(
        QStringLiteral("events"),
        QStringLiteral("Write the upgrades' events to FILE as JSON Lines ('-': stdout)."),
        QStringLiteral("FILE"));
    const QCommandLineOption jobs(
        QStringLiteral("jobs"),
        QStringLiteral("How many devices are upgraded at once, each over a socket of its own (0: all "
                       "selected devices; default 1)."),
        QStringLiteral("N"));
    const QCommandLineOption help = parser.addHelpOption();
    // Answered by main() before Qt starts; listed here for the help text.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the program name and version."));
    parser.addOptions({broadcast, interface, port, wait, capture, verbose, logFile, events, jobs, version});
    parser.addPositionalArgument(QStringLiteral("package"), QStringLiteral("Upgrade package to open."),
                                 QStringLiteral("[package]"));
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    AppOptions parsed;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        parsed.help = parser.helpText();
        options = parsed;
        return true;
    }
    const NetworkOptionTexts network{ValueIfSet(parser, broadcast), ValueIfSet(parser, interface),
                                     ValueIfSet(parser, port), ValueIfSet(parser, wait)};
    const NetworkOptionFault fault = ResolveNetworkOptions(network, parsed.endpoint);
    if (fault != NetworkOptionFault::None) {
        error = NetworkOptionError(fault, parser.value(interface));
        return false;
    }
    if (parser.isSet(capture)) parsed.capture = std::filesystem::path(parser.value(capture).toStdString());
    // -v may be given several times, also as -vv.
    for (const QString& name : parser.optionNames())
        parsed.verbosity += name == QStringLiteral("v") || name == QStringLiteral("verbose") ? 1 : 0;
    if (parser.isSet(logFile)) parsed.logFile = std::filesystem::path(parser.value(logFile).toStdString());
    if (parser.isSet(events)) {
        parsed.events = parser.value(events).toStdString();
        if (parsed.events.empty()) {
            error = QStringLiteral("--events needs a file name, or - for stdout");
            return false;
        }
    }
    if (parser.isSet(jobs)) {
        bool number = false;
        const int value = parser.value(jobs).toInt(&number);
        if (!number || value < 0 || value > 4096) {
            error = QStringLiteral("--jobs needs a number from 0 to 4096");
            return false;
        }
        parsed.jobs = static_cast<std::size_t>(value);
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.size() > 1) {
        error = QStringLiteral("only one package may be named");
        return false;
    }
    if (!rest.isEmpty()) parsed.package = std::filesystem::path(rest.first().toStdString());
    options = parsed;
    return true;
}

}  // namespace quorvane
