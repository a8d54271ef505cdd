#include "app/gui/command_line.h"

#include <QCommandLineParser>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

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
        case GlobalOptionId::Jobs:  // closes the table's parenthesis
            return QStringLiteral("; default %1)").arg(GlobalOptions().jobs);
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

// "--port needs a number from 1 to 65535", from the table's range.
QString NumberRefusal(const GlobalOption& entry) {
    return QStringLiteral("--%1 needs a number from %2 to %3")
        .arg(FromView(entry.longName))
        .arg(entry.range.lowest)
        .arg(entry.range.highest);
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
            return NumberRefusal(GlobalOptionOf(GlobalOptionId::Port));
        case NetworkOptionFault::WaitMs:
            return NumberRefusal(GlobalOptionOf(GlobalOptionId::WaitMs));
        case NetworkOptionFault::None:
            break;
    }
    return {};
}

// Reads the option into its field, by the field's type; the refusal, empty
// when the value is taken or the option was not given.
QString ReadOption(const QCommandLineParser& parser, const GlobalOption& entry, GlobalOptions& values) {
    return std::visit(
        [&](auto field) -> QString {
            using Value = std::remove_reference_t<decltype(values.*field)>;
            Value& value = values.*field;
            const QString name = FromView(entry.longName);
            if constexpr (std::is_same_v<Value, bool>) {
                value = parser.isSet(name);
            } else if constexpr (std::is_same_v<Value, int>) {
                if (entry.valueName.empty()) {
                    value = TimesGiven(parser, entry);
                } else if (parser.isSet(name)) {
                    bool number = false;
                    const int given = parser.value(name).toInt(&number);
                    if (!number || given < entry.range.lowest || given > entry.range.highest)
                        return NumberRefusal(entry);
                    value = given;
                }
            } else if constexpr (std::is_same_v<Value, std::vector<std::filesystem::path>>) {
                for (const QString& file : parser.values(name)) value.emplace_back(file.toStdString());
            } else if (const auto given = ValueIfSet(parser, entry.id)) {
                value = *given;
            }
            return {};
        },
        entry.field);
}

// The refusal of what the desktop program asks more of a value than its
// type: an events file needs a name.
QString DesktopRefusal(const GlobalOption& entry, const GlobalOptions& values, const QCommandLineParser& parser) {
    if (entry.id == GlobalOptionId::Events && parser.isSet(FromView(entry.longName)) && values.events.empty())
        return QStringLiteral("--events needs a file name, or - for stdout");
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
    const QCommandLineOption help = parser.addHelpOption();
    for (const GlobalOption& entry : GlobalOptionTable())
        if ((entry.programs & IN_DESKTOP) != 0) parser.addOption(QtOption(entry));
    // Answered by main() before Qt starts; listed here for the help text.
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the program name and version."));
    parser.addOption(version);
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
    // The destination first, checked as one by the network options' parser.
    const NetworkOptionTexts network{
        ValueIfSet(parser, GlobalOptionId::Broadcast), ValueIfSet(parser, GlobalOptionId::Interface),
        ValueIfSet(parser, GlobalOptionId::Port), ValueIfSet(parser, GlobalOptionId::WaitMs)};
    const NetworkOptionFault fault = ResolveNetworkOptions(network, parsed.endpoint);
    if (fault != NetworkOptionFault::None) {
        error = NetworkOptionError(fault, parser.value(LongName(GlobalOptionId::Interface)));
        return false;
    }
    for (const GlobalOption& entry : GlobalOptionTable()) {
        if ((entry.programs & IN_DESKTOP) == 0) continue;
        QString refusal = ReadOption(parser, entry, parsed);
        if (refusal.isEmpty()) refusal = DesktopRefusal(entry, parsed, parser);
        if (!refusal.isEmpty()) {
            error = refusal;
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
