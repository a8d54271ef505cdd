#include "tools/upgradectl/plan_output.h"

#include "app/upgrade_command.h"
#include "protocol/mac_text.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

// The file a READ writes for one device of those the run would upgrade.
struct ReadTarget {
    const MacAddress& mac;
    ReadNames names;
};

std::string ReadTargetFile(const PlannedCommand& planned, const ReadTarget& target) {
    return ReadOutputFor(planned.readOutput, target.mac, target.names).string();
}

// What the command moves, for the two that move data.
std::string Transfer(const PlannedCommand& planned, const ReadTarget& target) {
    if (planned.command.keyword == ScriptKeyword::Load)
        return " (sends " + std::to_string(planned.loadBytes) + " bytes)";
    if (planned.command.keyword == ScriptKeyword::Read) return " (writes " + ReadTargetFile(planned, target) + ")";
    return {};
}

nlohmann::ordered_json StepJson(const PlannedCommand& planned, const ReadTarget& target) {
    nlohmann::ordered_json step = {
        {"line", planned.line}, {"command", KeywordName(planned.command.keyword)}, {"text", planned.text}};
    if (planned.command.keyword == ScriptKeyword::Load) step["loadBytes"] = planned.loadBytes;
    if (planned.command.keyword == ScriptKeyword::Read) step["readOutput"] = ReadTargetFile(planned, target);
    return step;
}

// What the devices would be sent: the lines of unknown keywords, which the
// check has named already, send nothing.
std::vector<const PlannedCommand*> DeviceCommands(const PackageCheck& check) {
    std::vector<const PlannedCommand*> commands;
    for (const PlannedCommand& planned : check.plan)
        if (IsDevicePlanned(planned)) commands.push_back(&planned);
    return commands;
}

}  // namespace

void PrintPlan(std::ostream& out, const std::vector<DeviceRecord*>& devices, const PackageCheck& check) {
    const std::vector<const PlannedCommand*> commands = DeviceCommands(check);
    const ReadNames names = ReadNamesFor(devices.size());
    for (const DeviceRecord* record : devices) {
        out << FormatMac(record->mac) << " would run:\n";
        if (commands.empty()) out << "  no device command\n";
        const ReadTarget target{record->mac, names};
        for (const PlannedCommand* planned : commands)
            out << "  line " << planned->line << ": " << PrintableText(planned->text + Transfer(*planned, target))
                << '\n';
    }
}

nlohmann::ordered_json PlanJson(const std::vector<DeviceRecord*>& devices, const PackageCheck& check) {
    const ReadNames names = ReadNamesFor(devices.size());
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DeviceRecord* record : devices) {
        nlohmann::ordered_json steps = nlohmann::ordered_json::array();
        for (const PlannedCommand* planned : DeviceCommands(check))
            steps.push_back(StepJson(*planned, {record->mac, names}));
        list.push_back({{"mac", FormatMac(record->mac)}, {"plan", steps}});
    }
    return list;
}

}  // namespace quorvane::cli
