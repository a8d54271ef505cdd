#include "tools/upgradectl/plan_output.h"

#include "protocol/mac_text.h"
#include "tools/upgradectl/text_table.h"

namespace quorvane::cli {
namespace {

// What the command moves, for the two that move data.
std::string Transfer(const PlannedCommand& planned) {
    if (planned.command.keyword == ScriptKeyword::Load)
        return " (sends " + std::to_string(planned.loadBytes) + " bytes)";
    if (planned.command.keyword == ScriptKeyword::Read)
        return " (writes " + planned.readOutput.string() + ")";
    return {};
}

nlohmann::ordered_json StepJson(const PlannedCommand& planned) {
    nlohmann::ordered_json step = {
        {"line", planned.line}, {"command", KeywordName(planned.command.keyword)}, {"text", planned.text}};
    if (planned.command.keyword == ScriptKeyword::Load) step["loadBytes"] = planned.loadBytes;
    if (planned.command.keyword == ScriptKeyword::Read) step["readOutput"] = planned.readOutput.string();
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
    for (const DeviceRecord* record : devices) {
        out << FormatMac(record->mac) << " would run:\n";
        if (commands.empty()) out << "  no device command\n";
        for (const PlannedCommand* planned : commands)
            out << "  line " << planned->line << ": " << PrintableText(planned->text + Transfer(*planned))
                << '\n';
    }
}

nlohmann::ordered_json PlanJson(const std::vector<DeviceRecord*>& devices, const PackageCheck& check) {
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const PlannedCommand* planned : DeviceCommands(check)) steps.push_back(StepJson(*planned));
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DeviceRecord* record : devices)
        list.push_back({{"mac", FormatMac(record->mac)}, {"plan", steps}});
    return list;
}

}  // namespace quorvane::cli
