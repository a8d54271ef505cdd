#include "app/gui/command_line.h"

#include <QCommandLineParser>
#include <optional>
#include <string>
#include <string_view>

#include "app/global_option_table.h"
#include "protocol/ipv4_text.h"
#include "protocol/network_options.h"

namespace quorvane {
namespace {

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString LongName(GlobalOptionId id) {
    return FromView(GlobalOptionOf(id).longName);
}

// What leaving the option out means; Qt's help text tells no default of its own.
QString DefaultNote(GlobalOptionId id) {
    const EndpointOptions defaults;
    switch (id) {
        case GlobalOptionId::Broadcast:
            return QStringLiteral("; default %1")
                .arg(QString::fromStdString(FormatIpv4(defaults.broadcastAddress)));
        case GlobalOptionId::Port:
            return QStringLiteral("; default %1").arg(defaults.port);
        case GlobalOptionId::WaitMs:
            return QStringLiteral("; default %1").arg(defaults.receiveWait.count());
        default:
            return {};
    }
}

QCommandLineOption QtOption(const GlobalOption& entry) {
    QStringList names;
    if (!entry.shortName.empty()) names << FromView(entry.shortName);
    names << FromView(entry.longName);
    const QString help = FromView(entry.help) + DefaultNote(entry.id) + QStringLiteral(".");
    return QCommandLineOption(names, help, FromView(entry.valueName));
}

std::optional<std::string> ValueIfSet(const QCommandLineParser& parser, GlobalOptionId id) {
    const QString name = LongName(id);
    if (!parser.isSet(name)) return std::nullopt;
    return parser.value(name).toStdString();
}

// A flag may be given several times, also as one cluster (-vv).
int TimesGiven(const QCommandLineParser& parser, const GlobalOption& entry) {
    int times = 0;
    for (const QString& name : parser.optionNames())
        times += name == FromView(entry.shortName) || name == FromView(entry.longName) ? 1 : 0;
    return times;
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
    // As upgradectl upgrade's own --jobs.
    const QCommandLineOption jobs(
        QStringLiteral("jobs"),
        QStringLiteral("How many devices are upgraded at once, each over a socket of its own (0: all "
                       "selected devices; default 1)."),
        QStringLiteral("N"));
    const QCommandLineOption help = parser.addHelpOption();
    for (const GlobalOption& entry : GlobalOptionTable())
        if ((entry.programs & IN_DESKTOP) != 0) parser.addOption(QtOption(entry));
    // Answered by main() before Qt starts; listed here for the help text.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the program name and version."));
    parser.addOptions({jobs, version});
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
    const NetworkOptionTexts network{
        ValueIfSet(parser, GlobalOptionId::Broadcast), ValueIfSet(parser, GlobalOptionId::Interface),
        ValueIfSet(parser, GlobalOptionId::Port), ValueIfSet(parser, GlobalOptionId::WaitMs)};
    const NetworkOptionFault fault = ResolveNetworkOptions(network, parsed.endpoint);
    if (fault != NetworkOptionFault::None) {
        error = NetworkOptionError(fault, parser.value(LongName(GlobalOptionId::Interface)));
        return false;
    }
    if (const auto capture = ValueIfSet(parser, GlobalOptionId::Capture)) parsed.capture = *capture;
    parsed.verbosity = TimesGiven(parser, GlobalOptionOf(GlobalOptionId::Verbose));
    if (const auto logFile = ValueIfSet(parser, GlobalOptionId::LogFile)) parsed.logFile = *logFile;
    if (const auto events = ValueIfSet(parser, GlobalOptionId::Events)) {
        parsed.events = *events;
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
