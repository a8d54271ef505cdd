#include "app/gui/command_line.h"

#include <QCommandLineParser>
#include <string_view>

#include "protocol/interfaces.h"
#include "protocol/ipv4_text.h"

namespace quorvane {
namespace {

bool ParseNumber(const QString& text, long long low, long long high, long long& out) {
    bool ok = false;
    const long long value = text.toLongLong(&ok, 10);
    if (!ok || value < low || value > high) return false;
    out = value;
    return true;
}

// The named interface's directed broadcast as destination and its address
// as source; --broadcast would contradict it.
bool UseInterface(const QCommandLineParser& parser, const QCommandLineOption& broadcast, const QString& name,
                  EndpointOptions& endpoint, QString& error) {
    if (parser.isSet(broadcast)) {
        error = QStringLiteral("--interface and --broadcast exclude each other");
        return false;
    }
    const auto chosen = FindIpv4Interface(ListIpv4Interfaces(), name.toStdString());
    if (!chosen) {
        error = QStringLiteral("no IPv4 interface named '%1'").arg(name);
        return false;
    }
    endpoint.broadcastAddress = chosen->broadcast;
    endpoint.localAddress = chosen->address;
    return true;
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
    const QCommandLineOption help = parser.addHelpOption();
    // Answered by main() before Qt starts; listed here for the help text.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the program name and version."));
    parser.addOptions({broadcast, interface, port, wait, capture, verbose, logFile, events, version});
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
    long long number = 0;
    if (parser.isSet(broadcast) && !ParseIpv4(parser.value(broadcast).toStdString(), parsed.endpoint.broadcastAddress)) {
        error = QStringLiteral("--broadcast needs an IPv4 address");
        return false;
    }
    if (parser.isSet(interface) &&
        !UseInterface(parser, broadcast, parser.value(interface), parsed.endpoint, error))
        return false;
    if (parser.isSet(port)) {
        if (!ParseNumber(parser.value(port), 1, 65535, number)) {
            error = QStringLiteral("--port needs a number from 1 to 65535");
            return false;
        }
        parsed.endpoint.port = static_cast<uint16_t>(number);
    }
    if (parser.isSet(wait)) {
        if (!ParseNumber(parser.value(wait), 1, 60000, number)) {
            error = QStringLiteral("--wait-ms needs a number from 1 to 60000");
            return false;
        }
        parsed.endpoint.receiveWait = std::chrono::milliseconds(number);
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
