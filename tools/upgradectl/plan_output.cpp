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

void PrintPlan(std::ostream& out, const std::vector<DeviceRecord*>& devices, const PackageCheck& check,
               std::size_t named) {
    const std::vector<const PlannedCommand*> commands = DeviceCommands(check);
    const ReadNames names = ReadNamesFor(named > 0 ? named : devices.size());
    for (const DeviceRecord* record : devices) {
        out << FormatMac(record->mac) << " would run:\n";
        if (commands.empty()) out << "  no device command\n";
        const ReadTarget target{record->mac, names};
        for (const PlannedCommand* planned : commands)
            out << "  line " << planned->line << ": " << PrintableText(planned->text + Transfer(*planned, target))
                << '\n';
    }
}

nlohmann::ordered_json PlanJson(const std::vector<DeviceRecord*>& devices, const PackageCheck& check,
                                std::size_t named) {
    const ReadNames names = ReadNamesFor(named > 0 ? named : devices.size());
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DeviceRecord* record : devices) {
        nlohmann::ordered_json steps = nlohmann::ordered_json::array();
        for (const PlannedCommand* planned : DeviceCommands(check))
            steps.push_back(StepJson(*planned, {record->mac, names}));
        list.push_back({{"mac", FormatMac(record->mac)}, {"plan", steps}});
    }
    return list;
}

namespace {

std::string MacList(const RunModel& model, const std::vector<std::size_t>& devices) {
    std::string list;
    for (std::size_t index : devices) list += (list.empty() ? "" : ", ") + FormatMac(model.devices[index].record->mac);
    return list;
}

nlohmann::ordered_json MacArray(const RunModel& model, const std::vector<std::size_t>& devices) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t index : devices) list.push_back(FormatMac(model.devices[index].record->mac));
    return list;
}

std::string Devices(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " device" : " devices");
}

}  // namespace

void PrintStages(std::ostream& out, const RunModel& model, const RolloutStages& stages) {
    if (!stages.asked) return;
    if (!stages.canaries.empty()) {
        out << "canaries: " << MacList(model, stages.canaries) << '\n';
        out << "then: " << Devices(stages.rest.size()) << ", once every canary was upgraded and came back\n";
    } else {
        out << "one stage: " << Devices(stages.rest.size()) << '\n';
    }
    for (std::size_t index : stages.current)
        out << "current, not touched: " << FormatMac(model.devices[index].record->mac) << " ("
            << PrintableText(model.devices[index].returned.firmwareBefore) << ")\n";
    out << "failure budget: "
        << (stages.failureLimit == 0 ? std::string("none") : Devices(stages.failureLimit)) << '\n';
}

nlohmann::ordered_json StagesJson(const RunModel& model, const RolloutStages& stages) {
    nlohmann::ordered_json current = nlohmann::ordered_json::array();
    for (std::size_t index : stages.current)
        current.push_back({{"mac", FormatMac(model.devices[index].record->mac)},
                           {"firmware", model.devices[index].returned.firmwareBefore}});
    nlohmann::ordered_json json = {{"canaries", MacArray(model, stages.canaries)},
                                   {"then", MacArray(model, stages.rest)},
                                   {"current", current},
                                   {"max_failures", nullptr}};
    if (stages.failureLimit > 0) json["max_failures"] = stages.failureLimit;
    return json;
}

std::vector<DeviceRecord*> TouchedDevices(const RunModel& model) {
    std::vector<DeviceRecord*> touched;
    for (const DeviceResult& device : model.devices)
        if (device.state != DeviceState::Current) touched.push_back(device.record);
    return touched;
}

}  // namespace quorvane::cli
