// Makes the seed files of the committed corpus: a handful of small, valid
// or nearly valid inputs per target, each reaching a different part of the
// parser. Fuzzer finds are kept beside them under other names.
//
//   make_corpus write CORPUS_DIR   (re)writes every seed-* file
//   make_corpus check CORPUS_DIR   fails when a seed-* file differs

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "package/package_writer.h"
#include "package/upgrade_package.h"
#include "protocol/info_block.h"
#include "support/fake_transport.h"

using namespace quorvane;
using Bytes = std::vector<uint8_t>;
using Seeds = std::map<std::string, Bytes>;

namespace {

Bytes Text(const std::string& text) {
    return {text.begin(), text.end()};
}

// Appends: in place on a named buffer, by value on a temporary one.
Bytes& operator<<(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

Bytes operator<<(Bytes&& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
    return std::move(out);
}

Bytes Le16(uint16_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}

Bytes Le32(uint32_t value) {
    return Le16(static_cast<uint16_t>(value)) << Le16(static_cast<uint16_t>(value >> 16));
}

Bytes Pattern(std::size_t size, uint8_t start) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(start + i * 7);
    return bytes;
}

// --- information blocks -------------------------------------------------

Bytes IdentityRecord(uint16_t vendor, uint16_t device) {
    Bytes record{IDENTITY_LENGTH, TAG_IDENTITY};
    record << Le16(vendor) << Le16(device);
    record.resize(IDENTITY_LENGTH, 0x11);
    return record;
}

Bytes FirmwareRecord() {
    Bytes record{2 + 3 * FIRMWARE_ENTRY_SIZE, TAG_FIRMWARE};
    record << Bytes{ENTRY_REVISION, 3, 0, 0, 0, 0} << Le16(2024) << Bytes{5, 17};
    record << Bytes{ENTRY_PRODUCT, 2} << Le16(0x0102) << Bytes{9, 0} << Le16(2023) << Bytes{1, 2};
    record << Bytes{ENTRY_LETTERS, 0, 0, 0, 0, 0, 'Q', 'V', 'X', 0};
    return record;
}

Bytes NamingRecord(const std::string& name, const std::string& workgroup, uint8_t fill) {
    Bytes record(NAMING_LENGTH, fill);
    record[0] = NAMING_LENGTH;
    record[1] = TAG_NAMING;
    std::copy(name.begin(), name.end(), record.begin() + 20);
    std::copy(workgroup.begin(), workgroup.end(), record.begin() + 38);
    return record;
}

Bytes FullBlock() {
    return IdentityRecord(0x1407, 0x0024) << FirmwareRecord() << NamingRecord("press-hall", "line-2", 0);
}

Seeds InfoBlockSeeds() {
    Seeds seeds;
    seeds["seed-full"] = FullBlock();
    Bytes cut = FullBlock();
    cut.resize(cut.size() - 30);
    seeds["seed-cut-in-naming"] = cut;
    seeds["seed-unterminated-texts"] = IdentityRecord(0x1000, 0x0010)
                                       << NamingRecord(std::string(18, 'N'), std::string(40, 'W'), 'x');
    seeds["seed-zero-length"] = Bytes{0, 5, 1, 2} << FullBlock();
    Bytes odd{1, TAG_FIRMWARE};
    odd << Bytes{IDENTITY_LENGTH - 1, TAG_IDENTITY, 7, 7, 7} << Bytes{255, 99};
    seeds["seed-odd-lengths"] = odd;
    return seeds;
}

// --- packages -------------------------------------------------------------

const char* const RESTRICTIONS =
    "; restrictions for the fuzz seeds\n"
    "PRODUCTID 0x0102\n"
    "DEVICEID 0x10,0x24\n"
    "VENDORID 0x1407\n"
    "REVISIONID 3\n"
    "DEFAULT 0\n";

const char* const SCRIPT =
    "; upgrade the fuzz device\n"
    "SETPROGRAMMODE\n"
    "LOCKDEVICE\n"
    "ERASE 0x0001\n"
    "LOAD DATA.BIN 0x0010:0x0000\n"
    "READ BACK.BIN 0x0010:0x0000 40\n"
    "UNLOCKDEVICE\n"
    "RESET\n";

Bytes Package(std::vector<PackageMember> members) {
    return EncodePackage(members);
}

Seeds PackageSeeds() {
    Seeds seeds;
    const Bytes data = Pattern(201, 3);
    seeds["seed-standard"] = Package(StandardMembers(SCRIPT, RESTRICTIONS, {{"DATA.BIN", data, false}}));
    seeds["seed-names"] = Package(StandardMembers(SCRIPT, RESTRICTIONS,
                                                  {{"data.bin", data, true},
                                                   {"DATA.BIN", Text("second"), false},
                                                   {"../EVIL", Text("x"), false},
                                                   {std::string("NUL\0TAIL", 8), Text("y"), false},
                                                   {std::string(MAX_MEMBER_NAME, 'L'), {}, false}}));
    Bytes cut = seeds["seed-standard"];
    cut.resize(cut.size() - 60);
    seeds["seed-no-end-marker"] = cut;
    Bytes big = Package(StandardMembers(SCRIPT, RESTRICTIONS));
    big.resize(big.size() - 4);  // the end marker gives way to a member claiming 16 MiB
    big << Le32(3) << Text("BIG") << Le32(MEMBER_DATA_LIMIT) << Pattern(16, 1);
    seeds["seed-oversized-member"] = big;
    seeds["seed-empty"] = Package({});
    return seeds;
}

// --- scripts and devices --------------------------------------------------

using fuzz::FuzzDevice;

Bytes Answer(FuzzDevice::Action action, const Bytes& more = {}) {
    return Bytes{action} << more;
}

Bytes DiscoveryAnswer() {
    return Answer(FuzzDevice::SOUND, Bytes{0x00, 0x20, 0x4A, 0x01, 0x02, 0x03} << Le32(0xFFFFFFFF));
}

Bytes InfoAnswer(const Bytes& block) {
    return Answer(FuzzDevice::SOUND, Bytes{static_cast<uint8_t>(block.size() + 1), 0x01} << block);
}

// The answers of a working device to the script above: one discovery, one
// query, then program mode, lock, erase, load (DATA.BIN's 200 bytes and the
// section's line feed in blocks of 128 and 73), verify, a read of 40 bytes,
// unlock and reset.
Bytes SoundDevice() {
    const Bytes ok = Answer(FuzzDevice::SOUND);
    Bytes answers = DiscoveryAnswer() << InfoAnswer(FullBlock());
    answers << ok << ok << ok << Answer(FuzzDevice::SOUND, Le16(128)) << ok << ok << ok;
    return answers << Answer(FuzzDevice::SOUND, Pattern(40, 9)) << ok << ok;
}

Bytes ScriptInput(const std::string& restrictions, const std::string& script, const Bytes& data,
                  const Bytes& answers) {
    return Text(restrictions) << Text("%%\n" + script) << Text("%%\n") << data << Text("\n%%\n") << answers;
}

Seeds ScriptSeeds() {
    Seeds seeds;
    seeds["seed-sound-device"] = ScriptInput(RESTRICTIONS, SCRIPT, Pattern(200, 5), SoundDevice());
    Bytes lossy = DiscoveryAnswer() << InfoAnswer(FullBlock());
    lossy << Answer(FuzzDevice::TWICE) << Answer(FuzzDevice::SILENT) << Answer(FuzzDevice::EMPTY_FIRST)
          << Answer(FuzzDevice::FOREIGN_FIRST) << Answer(FuzzDevice::OVERSIZED, Le16(64))
          << Answer(FuzzDevice::SOUND) << Answer(FuzzDevice::TWICE) << Answer(FuzzDevice::SOUND)
          << Answer(FuzzDevice::SOUND) << Answer(FuzzDevice::SOUND);
    seeds["seed-lossy-device"] = ScriptInput(
        "productid 258\r\nDEVICEID ,0x24,,9,10,11,12,13,14,15,16,17\r\nVENDORID 0x1407 ; primary\r\n"
        "VENDORID 7\r\nREVISIONID 0x7FFFFFFFFF\r\nDEFAULT -1\r\nMAC 00:20:4a:01:02:03:ff:ff:ff:ff\r\n",
        "SETPROGRAMMODE extra\r\nerase -1\r\nLOAD program.cmd 1:2:3\r\nRESET\r\nLOAD ../ETC 0:0\r\n",
        Pattern(65, 1), lossy);
    // No device is admitted; the script runs against a made-up one.
    Bytes hostile = Answer(FuzzDevice::RAW, Le16(11) << Pattern(11, 0));
    hostile << Answer(FuzzDevice::BAD_PAYLOAD, Le16(300) << Bytes{2, 0, 0});
    hostile << Answer(FuzzDevice::SOUND, Le16(2)) << Answer(FuzzDevice::RAW, Le16(3) << Bytes{1, 2, 3});
    seeds["seed-hostile-lines"] = ScriptInput(
        RESTRICTIONS + std::string(600, 'K') + " 1\n" + std::string(300, ' ') + "x\n",
        "BOGUS " + std::string(120, 'Z') + "\nERASE 0x10000\nLOAD DATA.BIN 0:0\nREAD FUZZ.UPK 0:0 4\n", {},
        hostile);
    seeds["seed-silent-device"] = ScriptInput(RESTRICTIONS, SCRIPT, Pattern(10, 2), {});
    seeds["seed-empty"] = {};
    return seeds;
}

// --- replies --------------------------------------------------------------

// The exchange parameters fuzz_replies reads first, up to the block length.
Bytes ParametersHead(uint16_t blockLength) {
    Bytes p = Le16(0xFFFF) << Le16(0xFFFF) << Bytes{0x00, 0x20, 0x4A, 0x0A, 0x0B, 0x0C};
    return p << Le16(0x0005) << Le16(0x0010) << Le16(0x0000) << Le32(6) << Le16(0) << Le16(blockLength);
}

// All parameters: a block of 6 bytes and a read of 12.
Bytes ReplyParameters() {
    return ParametersHead(6) << Pattern(6, 4) << Bytes{12} << Le16(0x0010) << Le16(0x0100);
}

Seeds ReplySeeds() {
    Seeds seeds;
    const Bytes ok = Answer(FuzzDevice::SOUND);
    Bytes sound = ReplyParameters() << DiscoveryAnswer() << InfoAnswer(FullBlock());
    sound << ok << ok << ok << Answer(FuzzDevice::SOUND, Le16(128)) << ok << ok
          << Answer(FuzzDevice::SOUND, Pattern(12, 1)) << ok << ok;
    seeds["seed-sound-device"] = sound;

    // Discovery hears one device twice; every exchange meets loss, duplicates or strangers first.
    Bytes lossy = ReplyParameters() << Answer(FuzzDevice::TWICE, Pattern(10, 1));
    lossy << Answer(FuzzDevice::SILENT) << Answer(FuzzDevice::EMPTY_FIRST, Bytes{3, 1, 2, 3})
          << Answer(FuzzDevice::FOREIGN_FIRST) << Answer(FuzzDevice::OVERSIZED) << Answer(FuzzDevice::TWICE)
          << Answer(FuzzDevice::SILENT) << Answer(FuzzDevice::SOUND, Le16(64)) << Answer(FuzzDevice::TWICE)
          << ok << Answer(FuzzDevice::FOREIGN_FIRST, Pattern(24, 2)) << Answer(FuzzDevice::SILENT) << ok
          << Answer(FuzzDevice::TWICE) << ok << ok << ok;
    seeds["seed-lossy-device"] = lossy;

    const MacAddress mac{0x00, 0x20, 0x4A, 0x0A, 0x0B, 0x0C};
    Bytes infoClaimsMore = testing::MakeReply(OP_INFO_REPLY, mac, Pattern(20, 0));
    infoClaimsMore[OFFSET_PAYLOAD_LENGTH] = 200;
    Bytes readShort = testing::MakeReply(OP_READ, mac, Pattern(6, 0));
    readShort[OFFSET_PAYLOAD_LENGTH] = 12;
    Bytes hostile = ReplyParameters() << Answer(FuzzDevice::RAW, Le16(12) << Pattern(12, 0));
    hostile << Answer(FuzzDevice::RAW, Le16(static_cast<uint16_t>(infoClaimsMore.size())) << infoClaimsMore);
    hostile << Answer(FuzzDevice::BAD_PAYLOAD, Le16(2) << Bytes{1, 0}) << ok;  // program mode, lock
    hostile << Answer(FuzzDevice::BAD_PAYLOAD, Le16(2) << Bytes{2, 0xEE, 0xEE})
            << ok;                                                          // a wrong echo, then erase
    hostile << Answer(FuzzDevice::SOUND, Le16(64)) << ok;                   // load begin, block
    hostile << Answer(FuzzDevice::BAD_PAYLOAD, Le16(1) << Bytes{0}) << ok;  // verify without its byte
    hostile << Answer(FuzzDevice::RAW, Le16(static_cast<uint16_t>(readShort.size())) << readShort)
            << Answer(FuzzDevice::SOUND, Pattern(12, 1)) << ok << ok;
    seeds["seed-hostile-replies"] = hostile;

    // A block longer than a request can carry; the input ends there, so the
    // block is zeros and nothing answers.
    seeds["seed-oversized-block"] = ParametersHead(REQUEST_CAPACITY);
    seeds["seed-reply-datagram"] = testing::MakeReply(OP_READ, {1, 2, 3, 4, 5, 6}, Pattern(12, 0));
    return seeds;
}

// --- writing and checking -------------------------------------------------

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool Process(const std::filesystem::path& folder, const Seeds& seeds, bool write) {
    bool same = true;
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : seeds) {
        const auto path = folder / name;
        if (write) {
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        } else if (ReadFile(path) != bytes) {
            std::fprintf(stderr, "%s differs from what make_corpus makes\n", path.c_str());
            same = false;
        }
    }
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "write" && mode != "check") {
        std::fprintf(stderr, "usage: %s write|check CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path corpus = argv[2];
    const bool write = mode == "write";
    bool same = Process(corpus / "info_block", InfoBlockSeeds(), write);
    same = Process(corpus / "package", PackageSeeds(), write) && same;
    same = Process(corpus / "script", ScriptSeeds(), write) && same;
    same = Process(corpus / "replies", ReplySeeds(), write) && same;
    return same ? 0 : 1;
}
