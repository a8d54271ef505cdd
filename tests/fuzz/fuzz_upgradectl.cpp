// upgradectl's whole command line, run in a scratch folder that holds a
// package and the files to pack it from, with the device requests carried by
// a fake transport to a device that answers from the input. No socket is
// ever opened.
//
// Input: one argument per line, a line "%%", the device's answers (see
// FuzzDevice). Arguments that could name a file outside the scratch folder
// (a '/' or "..") make the input uninteresting: they are skipped.

#include <string>
#include <vector>

#include "fuzz/fuzz_cli.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_support.h"
#include "package/package_writer.h"
#include "protocol/packet.h"
#include "support/fake_transport.h"

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr std::size_t MAX_ARGUMENTS = 24;

constexpr const char* SCRIPT =
    "SETPROGRAMMODE\nLOCKDEVICE\nERASE 0x0001\nLOAD DATA.BIN 0x0010:0x0000\n"
    "READ BACK.BIN 0x0010:0x0000 40\nUNLOCKDEVICE\nRESET\n";
constexpr const char* RESTRICTIONS = "PRODUCTID 0x0102\nVENDORID 0x1407\nREVISIONID 3\nDEFAULT 1\n";

// The files every run finds: a sound package and the files it was made of.
void LayOutScratchFolder() {
    const std::string data = "firmware image bytes";
    const std::vector<uint8_t> bytes(data.begin(), data.end());
    WritePackage(ScratchFolder() / "fuzz.upk",
                 StandardMembers(SCRIPT, RESTRICTIONS, {{"DATA.BIN", bytes, false}}));
    auto text = [](std::string_view s) {
        return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    WriteFile(ScratchFolder() / "program.cmd", text(SCRIPT));
    WriteFile(ScratchFolder() / "restriction.ini", text(RESTRICTIONS));
    WriteFile(ScratchFolder() / "data.bin", bytes);
}

bool Harmless(std::string_view argument) {
    return argument.find('/') == std::string_view::npos && argument.find("..") == std::string_view::npos;
}

bool SplitArguments(std::string_view text, std::vector<std::string>& out) {
    out.clear();
    while (!text.empty() && out.size() < MAX_ARGUMENTS) {
        const auto end = text.find('\n');
        const std::string_view argument = text.substr(0, end);
        if (!Harmless(argument)) return false;
        out.emplace_back(argument);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return true;
}

// Everything sent is a request with its own payload length.
void CheckRequests(const testing::FakeTransport& link) {
    for (const auto& sent : link.sent) {
        PacketHeader header;
        FUZZ_CHECK(PacketHeader::Decode(sent.bytes, header));
        FUZZ_CHECK(header.magic == REQUEST_MAGIC);
        FUZZ_CHECK(sent.bytes.size() == HEADER_SIZE + header.payloadLength);
    }
}

// The packages' private folders are gone once the command has returned.
void CheckNothingLeftOpen() {
    for (const auto& name : ScratchEntries()) FUZZ_CHECK(name.rfind("quorvane-upk-", 0) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto sections = SplitSections({data, size}, 2);
    std::vector<std::string> arguments;
    if (!SplitArguments(sections[0], arguments)) return 0;
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    LayOutScratchFolder();

    ByteStream answers(std::span(reinterpret_cast<const uint8_t*>(sections[1].data()), sections[1].size()));
    testing::FakeTransport link;
    FuzzDevice device(answers);
    device.Attach(link);
    RunUpgradectl(argv, &link);
    CheckRequests(link);
    CheckNothingLeftOpen();
    EmptyScratchFolder();
    return 0;
}
