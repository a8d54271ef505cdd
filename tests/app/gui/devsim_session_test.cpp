// The desktop program end to end: the real application object over a real
// socket against the device simulator on 127.0.0.1.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/history_store.h"
#include "app/gui/device_list_dialog.h"
#include "app/event_stream.h"
#include "app/gui/upgrade_app.h"
#include "gui_test_support.h"

namespace quorvane::testing {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

class Simulator {
public:
    explicit Simulator(const std::filesystem::path& folder) : portFile_(folder / "port") {
        process_.start(QStringLiteral(QV_DEVSIM_PATH),
                       {"--listen", "127.0.0.1:0", "--port-file", QString::fromStdString(portFile_.string()),
                        "--devices", "3", "--dump-dir", QString::fromStdString((folder / "dump").string())});
    }
    ~Simulator() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(3000);
    }
    // The port it listens on once it has reported it; 0 if it never did.
    uint16_t Port() {
        for (int i = 0; i < 100; ++i) {
            const std::string text = ReadFile(portFile_);
            if (!text.empty()) return static_cast<uint16_t>(std::stoi(text));
            QTest::qWait(50);
        }
        return 0;
    }

private:
    std::filesystem::path portFile_;
    QProcess process_;
};

TEST(DevsimSession, ListUpgradeAllThenTheListAgainThenDone) {
    test::TempFolder folder;
    Simulator simulator(folder.Path());
    const uint16_t port = simulator.Port();
    ASSERT_NE(port, 0) << "devsim did not start";
    const std::filesystem::path examples(QV_EXAMPLES_DIR);
    const auto package = folder.Path() / "example.upk";
    ASSERT_TRUE(WritePackage(
        package, StandardMembers(ReadFile(examples / "program.cmd"), ReadFile(examples / "restriction.ini"),
                                 {{"firmware.bin", Bytes(ReadFile(examples / "firmware.bin"))}})));

    std::vector<int> rows;
    ModalAnswerer list(
        "device_list_dialog",
        [&](QWidget* widget) {
            auto* dialog = static_cast<DeviceListDialog*>(widget);
            rows.push_back(dialog->List()->topLevelItemCount());
            if (rows.size() == 1) {
                dialog->List()->selectAll();
                QTest::mouseClick(dialog->Button(1002), Qt::LeftButton);
            } else {
                QTest::mouseClick(dialog->Button(2), Qt::LeftButton);
            }
        },
        60000, true);
    std::vector<QString> boxes;
    ModalAnswerer answers(
        "message_box",
        [&](QWidget* widget) {
            auto* box = static_cast<QMessageBox*>(widget);
            boxes.push_back(box->text());
            ClickButton(box, box->buttons().size() == 2 ? "Yes" : "OK");
        },
        60000, true);

    AppOptions options;
    options.endpoint.broadcastAddress = LOCALHOST;
    options.endpoint.port = port;
    options.endpoint.receiveWait = std::chrono::milliseconds(200);
    options.package = package;
    options.capture = folder.Path() / "wire.pcap";
    options.history = folder.Path() / "history.db";
    UpgradeApp app(options);
    std::string captureError;
    ASSERT_TRUE(app.OpenOutputs(captureError)) << captureError;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(app.CloseOutputs().empty());
    // The run is in the history as upgradectl's are.
    HistoryOpen history = OpenHistory(folder.Path() / "history.db", false);
    ASSERT_TRUE(history.store) << history.error;
    std::vector<HistoryEntry> recorded;
    std::string historyError;
    ASSERT_TRUE(history.store->Read({}, recorded, historyError)) << historyError;
    ASSERT_EQ(recorded.size(), 3u);
    for (const HistoryEntry& entry : recorded) {
        EXPECT_EQ(entry.device.result, "upgraded") << entry.device.mac;
        EXPECT_EQ(entry.run.program, "quorvane-upgrade");
        EXPECT_EQ(entry.run.exitCode, 0);
    }

    EXPECT_EQ(rows.size(), 2u);
    EXPECT_GT(rows.at(0), 0);
    EXPECT_EQ(rows.at(0), rows.at(1));  // the fresh pass finds the upgraded devices again
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].startsWith("Devices selected for upgrade will lose"));
    EXPECT_TRUE(boxes[1].startsWith("Upgrade complete."));
    // The script's READ put each device's image read back beside the package,
    // in a file of its own: several devices were upgraded.
    for (const char* name : {"READBACK-020000000001.BIN", "READBACK-020000000002.BIN", "READBACK-020000000003.BIN"})
        EXPECT_EQ(ReadFile(folder.Path() / name), ReadFile(examples / "firmware.bin")) << name;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "READBACK.BIN"));
    // Every datagram went through the capture: at least the whole image did
    // (tshark reads such files in tests/extras).
    EXPECT_GT(ReadFile(folder.Path() / "wire.pcap").size(), ReadFile(examples / "firmware.bin").size());
}

std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

// --events: the same events as upgradectl writes, for the passes and the
// upgrade of one device.
TEST(DevsimSession, EventsOfThePassesAndTheUpgrade) {
    test::TempFolder folder;
    Simulator simulator(folder.Path());
    const uint16_t port = simulator.Port();
    ASSERT_NE(port, 0) << "devsim did not start";
    const auto package = folder.Path() / "one.upk";
    ASSERT_TRUE(WritePackage(package, StandardMembers("SETPROGRAMMODE\nERASE 1\nLOAD image.bin 1:0\nRESET\n",
                                                      "PRODUCTID 0x0101\nVENDORID 0x1407\nREVISIONID 4\nDEFAULT 1\n",
                                                      {{"image.bin", std::vector<uint8_t>(3001, 0x5A)}})));
    int shown = 0;
    ModalAnswerer list(
        "device_list_dialog",
        [&](QWidget* widget) {
            auto* dialog = static_cast<DeviceListDialog*>(widget);
            if (++shown == 1) {
                dialog->List()->topLevelItem(0)->setSelected(true);
                QTest::mouseClick(dialog->Button(1002), Qt::LeftButton);
            } else {
                QTest::mouseClick(dialog->Button(2), Qt::LeftButton);
            }
        },
        60000, true);
    ModalAnswerer answers(
        "message_box",
        [&](QWidget* widget) {
            auto* box = static_cast<QMessageBox*>(widget);
            ClickButton(box, box->buttons().size() == 2 ? "Yes" : "OK");
        },
        60000, true);
    AppOptions options;
    options.endpoint.broadcastAddress = LOCALHOST;
    options.endpoint.port = port;
    options.endpoint.receiveWait = std::chrono::milliseconds(200);
    options.package = package;
    options.events = (folder.Path() / "events.jsonl").string();
    UpgradeApp app(options);
    std::string error;
    ASSERT_TRUE(app.OpenOutputs(error)) << error;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(app.CloseOutputs().empty());

    std::istringstream lines(ReadFile(folder.Path() / "events.jsonl"));
    std::vector<std::string> order;
    std::map<std::string, std::vector<nlohmann::ordered_json>> byName;
    for (std::string line; std::getline(lines, line);) {
        const auto event = nlohmann::ordered_json::parse(line);
        ASSERT_GE(Keys(event).size(), 2u) << line;
        EXPECT_EQ(Keys(event)[0], "event");
        EXPECT_EQ(Keys(event)[1], "t");
        if (order.empty() || order.back() != event.at("event")) order.push_back(event.at("event"));
        byName[event.at("event")].push_back(event);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"run-start", "discovered", "admitted", "device-start", "line",
                                               "progress", "line", "verify", "device-done", "run-done", "discovered",
                                               "admitted"}));
    ASSERT_EQ(byName["discovered"].size(), 2u) << "one for each pass";
    EXPECT_EQ(byName["discovered"][0].at("count"), 3);
    ASSERT_EQ(byName["admitted"].size(), 6u);
    EXPECT_EQ(Keys(byName["admitted"][0]),
              (std::vector<std::string>{"event", "t", "name", "mac", "firmware", "type", "ip", "vendorId",
                                        "deviceId", "productId", "revisionId", "key_id"}));
    EXPECT_TRUE(byName["admitted"][0].at("key_id").is_null()) << "the package is not signed";
    EXPECT_EQ(Keys(byName["device-start"].at(0)), (std::vector<std::string>{"event", "t", "mac", "index", "attempt"}));
    ASSERT_EQ(byName["line"].size(), 4u);
    EXPECT_EQ(byName["line"][2].at("text"), "LOAD image.bin 1:0");
    EXPECT_EQ(byName["line"][2].at("line"), 3);
    EXPECT_EQ(byName["progress"].back().at("done"), 3001);
    EXPECT_EQ(Keys(byName["progress"].back()),
              (std::vector<std::string>{"event", "t", "mac", "file", "done", "total"}));
    ASSERT_EQ(byName["device-done"].size(), 1u);
    const auto& done = byName["device-done"][0];
    EXPECT_EQ(Keys(done),
              (std::vector<std::string>{"event", "t", "mac", "ok", "succeeded", "attempts", "sends", "resends",
                                        "timeouts", "bad_echoes", "rtt_ms", "bytes", "seconds", "firmware_before",
                                        "firmware_after", "verify", "verify_seconds"}));
    EXPECT_EQ(done.at("mac"), byName["device-start"][0].at("mac"));
    EXPECT_EQ(done.at("ok"), true);
    EXPECT_EQ(done.at("bytes"), 3001);
    EXPECT_EQ(byName["run-done"].at(0), (nlohmann::ordered_json{{"event", "run-done"},
                                                                {"t", byName["run-done"][0].at("t")},
                                                                {"ok", 1},
                                                                {"failed", 0},
                                                                {"exit_code", 0},
                                                                {"succeeded", 1},
                                                                {"exitCode", 0},
                                                                {"key_id", nullptr},
                                                                {"current", 0},
                                                                {"not_started", 0}}));
}

}  // namespace
}  // namespace quorvane::testing
