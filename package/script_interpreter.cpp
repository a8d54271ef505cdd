#include "package/script_interpreter.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <system_error>

#include "package/line_reader.h"
#include "package/text.h"
#include "package/upgrade_package.h"

namespace quorvane {

namespace {

constexpr const char* SCRIPT_FILE = "PROGRAM.CMD";

// Block numbers and request counts travel as 16-bit values.
constexpr uint64_t MAX_FULL_BLOCKS = 0xFFFF;
constexpr uint32_t READ_LENGTH_LIMIT = 1u << 23;
// No block size can carry a file this long in 65,535 full blocks and a partial one.
constexpr uint64_t LOAD_SIZE_LIMIT = (MAX_FULL_BLOCKS + 1) * LOAD_BUFFER;

// Closes the package's reader on every way out of a run.
class ReaderCloser {
public:
    explicit ReaderCloser(LineReader& reader) : reader_(reader) {}
    ~ReaderCloser() { reader_.Close(); }
    ReaderCloser(const ReaderCloser&) = delete;
    ReaderCloser& operator=(const ReaderCloser&) = delete;

private:
    LineReader& reader_;
};

void Report(ScriptObserver* observer, std::string_view name, uint64_t done, uint64_t total) {
    if (observer != nullptr) observer->OnTransfer(name, done, total);
}

struct Command {
    UpgradePackage& package;
    DeviceProtocol& protocol;
    const DeviceRecord& record;
    ScriptObserver* observer;
};

// Token n as an upper-cased file name; false when it cannot name a file of
// its own folder (missing, too long for the name buffer, or leaving it).
bool FileNameToken(const LineReader& reader, uint8_t n, std::string& name) {
    reader.TokenUpper(n, name);
    return name.size() <= MAX_TOKEN_LENGTH && IsSafeFileName(name);
}

// The file name (token 2) and the address pair a:b (token 3) that LOAD and
// READ share; false when the name is unusable.
bool NameAndAddress(const LineReader& reader, std::string& name, uint16_t& a, uint16_t& b) {
    if (!FileNameToken(reader, 2, name)) return false;
    reader.Pair(3, a, b);
    return true;
}

bool RunLoad(const Command& command) {
    std::string name;
    uint16_t a = 0;
    uint16_t b = 0;
    if (!NameAndAddress(command.package.reader, name, a, b)) return false;
    const auto file = command.package.DataFile(name);
    if (file.empty() || !command.package.Extract(name, file, false)) return false;
    // A failed transfer leaves the file behind; the package's folder goes on close.
    if (!DownloadFile(command.protocol, command.record, a, b, file, command.observer)) return false;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return true;
}

bool RunRead(const Command& command) {
    std::string name;
    uint16_t a = 0;
    uint16_t b = 0;
    if (!NameAndAddress(command.package.reader, name, a, b)) return false;
    uint32_t length = 0;
    command.package.reader.Number32(4, length);
    const auto output = command.package.PackageFolder() / name;
    // Reading back onto the open package would destroy the technician's only copy of it.
    std::error_code ignored;
    if (std::filesystem::equivalent(output, command.package.PackagePath(), ignored)) return false;
    return ReadBackToFile(command.protocol, command.record, a, b, length, output, command.observer);
}

// Runs the command of `keyword`; an unknown keyword is skipped as success.
bool RunCommand(const std::string& keyword, const Command& command) {
    DeviceProtocol& protocol = command.protocol;
    const DeviceRecord& record = command.record;
    if (keyword == "SETPROGRAMMODE") return protocol.SetProgramMode(record);
    if (keyword == "LOCKDEVICE") return protocol.Lock(record);
    if (keyword == "UNLOCKDEVICE") return protocol.Unlock(record);
    if (keyword == "RESET") return protocol.Reset(record);
    if (keyword == "ERASE") {
        uint16_t value = 0;
        command.package.reader.Number16(2, value);
        return protocol.Erase(record, value);
    }
    if (keyword == "LOAD") return RunLoad(command);
    if (keyword == "READ") return RunRead(command);
    return true;
}

// Reads `count` bytes; false when the file delivers fewer (it shrank since
// its size was taken), so stale buffer bytes are never sent.
bool ReadExactly(std::ifstream& in, uint8_t* buffer, std::size_t count) {
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return in.gcount() == static_cast<std::streamsize>(count);
}

// Sends one block and adds its bytes to the checksum.
bool SendBlock(DeviceProtocol& protocol, const DeviceRecord& record, std::ifstream& in, uint16_t index,
               std::size_t count, uint8_t& checksum) {
    std::array<uint8_t, LOAD_BUFFER> block{};
    if (!ReadExactly(in, block.data(), count)) return false;
    const std::span<const uint8_t> data(block.data(), count);
    if (!protocol.LoadBlock(record, index, data)) return false;
    checksum = static_cast<uint8_t>(checksum + (ByteSum(data) & 0xFFu));
    return true;
}

// The device's block size must fit the buffer and the 16-bit block count.
bool UsableBlockSize(uint16_t blockSize, uint64_t size) {
    return blockSize != 0 && blockSize <= LOAD_BUFFER && size / blockSize <= MAX_FULL_BLOCKS;
}

bool SendBlocks(DeviceProtocol& protocol, const DeviceRecord& record, std::ifstream& in, uint64_t size,
                uint16_t blockSize, const std::string& name, ScriptObserver* observer, uint8_t& checksum) {
    const uint64_t fullBlocks = size / blockSize;
    const auto rest = static_cast<std::size_t>(size % blockSize);
    uint64_t done = 0;
    for (uint64_t i = 0; i < fullBlocks; ++i) {
        if (!SendBlock(protocol, record, in, static_cast<uint16_t>(i), blockSize, checksum)) return false;
        done += blockSize;
        Report(observer, name, done, size);
    }
    if (rest == 0) return true;
    // The partial block takes the number after the last full one.
    if (!SendBlock(protocol, record, in, static_cast<uint16_t>(fullBlocks), rest, checksum)) return false;
    Report(observer, name, size, size);
    return true;
}

}  // namespace

uint32_t ByteSum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes) sum += byte;
    return sum;
}

bool DownloadFile(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                  const std::filesystem::path& file, ScriptObserver* observer) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in) return false;
    const auto size = static_cast<uint64_t>(end);
    if (size >= LOAD_SIZE_LIMIT) return false;
    const std::string name = file.filename().string();
    Report(observer, name, 0, size);

    uint16_t blockSize = 0;
    if (!protocol.LoadBegin(record, a, b, static_cast<uint32_t>(size), blockSize) ||
        !UsableBlockSize(blockSize, size)) {
        protocol.Reset(record);
        return false;
    }
    uint8_t checksum = 0;
    // A failed block ends the transfer without a reset.
    if (!SendBlocks(protocol, record, in, size, blockSize, name, observer, checksum)) return false;
    uint8_t deviceChecksum = 0;
    if (!protocol.LoadVerify(record, deviceChecksum) || deviceChecksum != checksum) {
        protocol.Reset(record);
        return false;
    }
    return true;
}

bool ReadBackToFile(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                    uint32_t length, const std::filesystem::path& file, ScriptObserver* observer) {
    // Beyond this the 16-bit request count would wrap; refuse before touching the file.
    if (length >= READ_LENGTH_LIMIT) return false;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    const std::string name = file.filename().string();
    Report(observer, name, 0, length);

    std::array<uint8_t, READ_CHUNK> buffer{};
    uint16_t address = b;
    uint32_t done = 0;
    while (done < length) {
        const auto count = static_cast<uint16_t>(std::min<uint32_t>(READ_CHUNK, length - done));
        if (!protocol.Read(record, count, a, address, std::span<uint8_t>(buffer.data(), count))) return false;
        out.write(reinterpret_cast<const char*>(buffer.data()), count);
        if (!out) return false;
        // The address is 16 bits on the device: it wraps from 0xFFFF to 0.
        address = static_cast<uint16_t>(address + count);
        done += count;
        Report(observer, name, done, length);
    }
    out.close();
    return !out.fail();
}

bool RunUpgradeScript(UpgradePackage& package, DeviceProtocol& protocol, const DeviceRecord& record,
                      ScriptObserver* observer) {
    LineReader& reader = package.reader;
    const auto script = package.WorkFile(SCRIPT_FILE);
    if (script.empty() || !reader.Open(script)) return false;
    ReaderCloser closer(reader);
    const Command command{package, protocol, record, observer};
    std::string keyword;
    int lineNumber = 0;
    while (reader.NextLine()) {
        ++lineNumber;
        if (reader.TokenCount() == 0) continue;
        if (observer != nullptr) observer->OnLine(lineNumber, reader.Line());
        reader.TokenUpper(1, keyword);
        // A keyword too long for the keyword buffer cannot be one of ours.
        if (keyword.size() > MAX_TOKEN_LENGTH) continue;
        if (!RunCommand(keyword, command)) return false;
    }
    return true;
}

}  // namespace quorvane
