#include "package/script_interpreter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "package/line_reader.h"
#include "package/package_check.h"
#include "package/script_command.h"
#include "package/text.h"
#include "package/upgrade_package.h"
#include "protocol/output_file.h"
#include "protocol/packet.h"

namespace quorvane {

namespace {

// Block numbers travel as 16-bit values (the partial block takes the
// number after the last full one).
constexpr uint64_t MAX_FULL_BLOCKS = MAX_BLOCK_NUMBER;
// No block size can carry a file this long in 65,535 full blocks and a partial one.
constexpr uint64_t LOAD_SIZE_LIMIT = (MAX_FULL_BLOCKS + 1) * LOAD_BUFFER;

void Report(ScriptObserver* observer, std::string_view name, uint64_t done, uint64_t total) {
    if (observer != nullptr) observer->OnTransfer(name, done, total);
}

struct Command {
    UpgradePackage& package;
    DeviceProtocol& protocol;
    const DeviceRecord& record;
    ScriptObserver* observer;
    ReadNames names;
};

// A READ output file, opened without following a symbolic link and used
// only when it is a regular file of no other name, which this call created
// or truncated: a symbolic or hard link planted at the output name must
// never redirect device memory onto another file, and a FIFO must never
// block the run. Failures keep the system's reason.
class ReadBackFile {
public:
    explicit ReadBackFile(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666)) {
        if (fd_ < 0) {
            failure_ = std::strerror(errno);
            return;
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || ::ftruncate(fd_, 0) != 0)
            failure_ = std::strerror(errno);
        else if (!S_ISREG(info.st_mode))
            failure_ = "it is not a regular file";
        else if (info.st_nlink > 1)
            failure_ = "it has other hard links";
        if (failure_.empty()) return;
        ::close(fd_);
        fd_ = -1;
    }
    ~ReadBackFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadBackFile(const ReadBackFile&) = delete;
    ReadBackFile& operator=(const ReadBackFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool Write(const uint8_t* bytes, std::size_t count) {
        const int error = WriteFully(fd_, bytes, count);
        if (error != 0) failure_ = std::strerror(error);
        return error == 0;
    }
    bool Close() {
        if (fd_ < 0) return false;
        const bool closed = ::close(fd_) == 0;
        if (!closed) failure_ = std::strerror(errno);
        fd_ = -1;
        return closed;
    }
    const std::string& Failure() const { return failure_; }

private:
    int fd_ = -1;
    std::string failure_;
};

// Tells the observer why the run fails on this computer; always false, for
// the caller to return.
bool LocalFailure(ScriptObserver* observer, const std::string& text) {
    if (observer != nullptr) observer->OnLocalError(text);
    return false;
}

// Tells the observer what the device answered that ends the run; always
// false, for the caller to return.
bool DeviceFailure(ScriptObserver* observer, const DeviceFault& fault) {
    if (observer != nullptr) observer->OnDeviceFault(fault);
    return false;
}

// How the last command exchange failed, as a device fault.
DeviceFault ExchangeFaultOf(const DeviceProtocol& protocol) {
    DeviceFault fault;
    fault.exchange = protocol.LastFailure();
    return fault;
}

// `done` as the command's result: when it failed, the observer hears why
// from the exchange, before anything else is sent.
bool Answered(bool done, const DeviceProtocol& protocol, ScriptObserver* observer) {
    if (done) return true;
    return DeviceFailure(observer, ExchangeFaultOf(protocol));
}

std::string CannotTake(const std::string& member) {
    return "cannot take " + member + " from the package";
}

// Beyond READ_LENGTH_LIMIT the 16-bit request count would wrap.
std::string ReadTooLong(uint32_t length) {
    return "READ of " + std::to_string(length) + " bytes is too long: at most " +
           std::to_string(READ_LENGTH_LIMIT - 1);
}

bool Stopped(ScriptObserver* observer) {
    return observer != nullptr && observer->StopRequested();
}

// A package in memory sends the member straight from its bytes.
bool RunLoadInMemory(const Command& command, const ScriptCommand& line) {
    std::string data;
    if (command.package.ReadMemberData(line.name, data, false) != ExtractStatus::Done)
        return LocalFailure(command.observer, CannotTake(line.name));
    std::istringstream in(std::move(data), std::ios::binary);
    return DownloadStream(command.protocol, command.record, line.a, line.b, in, line.name, command.observer);
}

bool RunLoad(const Command& command, const ScriptCommand& line) {
    if (!line.nameUsable) return LocalFailure(command.observer, NameProblem(line));
    UpgradePackage& package = command.package;
    if (package.InMemory()) return RunLoadInMemory(command, line);
    // A member the package check prepared serves every device of the run;
    // one extracted here is this command's alone and goes when it is done.
    auto file = package.PreparedData(line.name);
    const bool prepared = !file.empty();
    if (!prepared) {
        file = package.DataFile(line.name);
        if (file.empty())
            return LocalFailure(command.observer, CannotTake(line.name));
        const ExtractStatus status = package.ExtractMember(line.name, file, false);
        if (status == ExtractStatus::WriteFailed)
            return LocalFailure(command.observer, "cannot extract " + line.name + " into the private folder " +
                                                      package.PrivateFolder().string() + ": " +
                                                      package.WriteError());
        if (status != ExtractStatus::Done)
            return LocalFailure(command.observer, CannotTake(line.name));
    }
    // A failed transfer leaves the file behind; the package's folder goes on close.
    if (!DownloadFile(command.protocol, command.record, line.a, line.b, file, command.observer)) return false;
    std::error_code ignored;
    if (!prepared) std::filesystem::remove(file, ignored);
    return true;
}

bool RunRead(const Command& command, const ScriptCommand& line) {
    if (!line.nameUsable) return LocalFailure(command.observer, NameProblem(line));
    const std::string name = ReadOutputFor(line.name, command.record.mac, command.names).string();
    if (command.package.InMemory()) {
        // Kept as READ would write it: what arrived before a failure stays.
        std::string& output = command.package.NewOutput(name);
        return ReadBack(command.protocol, command.record, line.a, line.b, line.length, name,
                        [&output](const uint8_t* bytes, std::size_t count) {
                            output.append(reinterpret_cast<const char*>(bytes), count);
                            return true;
                        },
                        command.observer);
    }
    const auto output = command.package.PackageFolder() / name;
    // Reading back onto the open package would destroy the technician's only copy of it.
    std::error_code ignored;
    if (std::filesystem::equivalent(output, command.package.PackagePath(), ignored))
        return LocalFailure(command.observer, "READ " + name + " would overwrite the package itself");
    return ReadBackToFile(command.protocol, command.record, line.a, line.b, line.length, output,
                          command.observer);
}

// Runs one command; an unknown keyword is skipped as success.
bool RunCommand(const ScriptCommand& line, const Command& command) {
    DeviceProtocol& protocol = command.protocol;
    const DeviceRecord& record = command.record;
    if (IsDeviceCommand(line.keyword) && Stopped(command.observer)) return false;
    ScriptObserver* observer = command.observer;
    switch (line.keyword) {
        case ScriptKeyword::SetProgramMode:
            return Answered(protocol.SetProgramMode(record), protocol, observer);
        case ScriptKeyword::LockDevice:
            return Answered(protocol.Lock(record), protocol, observer);
        case ScriptKeyword::UnlockDevice:
            return Answered(protocol.Unlock(record), protocol, observer);
        case ScriptKeyword::Reset:
            return Answered(protocol.Reset(record), protocol, observer);
        case ScriptKeyword::Erase:
            return Answered(protocol.Erase(record, line.segment), protocol, observer);
        case ScriptKeyword::Load:
            return RunLoad(command, line);
        case ScriptKeyword::Read:
            return RunRead(command, line);
        default:
            return true;
    }
}

// Reads `count` bytes; false when the file delivers fewer (it shrank since
// its size was taken), so stale buffer bytes are never sent.
bool ReadExactly(std::istream& in, uint8_t* buffer, std::size_t count) {
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
    return in.gcount() == static_cast<std::streamsize>(count);
}

// Sends one block and adds its bytes to the checksum.
bool SendBlock(DeviceProtocol& protocol, const DeviceRecord& record, std::istream& in, uint16_t index,
               std::size_t count, uint8_t& checksum, const std::string& name, ScriptObserver* observer) {
    std::array<uint8_t, LOAD_BUFFER> block{};
    if (!ReadExactly(in, block.data(), count))
        return LocalFailure(observer, "cannot read " + name + ": it got shorter while it was being sent");
    const std::span<const uint8_t> data(block.data(), count);
    if (!Answered(protocol.LoadBlock(record, index, data), protocol, observer)) return false;
    checksum = static_cast<uint8_t>(checksum + (ByteSum(data) & 0xFFu));
    return true;
}

// A transfer the device refused is reset, so that the device does not wait
// for blocks that never come, and only then is `fault` told: the waits of
// a reset the device leaves unanswered come before the failure, which is
// the last thing the run says. Always false.
bool ResetThenFail(DeviceProtocol& protocol, const DeviceRecord& record, ScriptObserver* observer,
                   const DeviceFault& fault) {
    protocol.Reset(record);
    return DeviceFailure(observer, fault);
}

// The device's block size must fit the buffer and the 16-bit block count.
bool UsableBlockSize(uint16_t blockSize, uint64_t size) {
    return blockSize != 0 && blockSize <= LOAD_BUFFER && size / blockSize <= MAX_FULL_BLOCKS;
}

bool SendBlocks(DeviceProtocol& protocol, const DeviceRecord& record, std::istream& in, uint64_t size,
                uint16_t blockSize, const std::string& name, ScriptObserver* observer, uint8_t& checksum) {
    const uint64_t fullBlocks = size / blockSize;
    const auto rest = static_cast<std::size_t>(size % blockSize);
    uint64_t done = 0;
    for (uint64_t i = 0; i < fullBlocks; ++i) {
        if (Stopped(observer)) return false;
        if (!SendBlock(protocol, record, in, static_cast<uint16_t>(i), blockSize, checksum, name, observer))
            return false;
        done += blockSize;
        Report(observer, name, done, size);
    }
    if (rest == 0) return true;
    if (Stopped(observer)) return false;
    // The partial block takes the number after the last full one.
    if (!SendBlock(protocol, record, in, static_cast<uint16_t>(fullBlocks), rest, checksum, name, observer))
        return false;
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
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return LocalFailure(observer, "cannot read " + file.string() + ": " +
                                          (errno != 0 ? std::strerror(errno) : "it cannot be opened"));
    return DownloadStream(protocol, record, a, b, in, file.filename().string(), observer);
}

bool DownloadStream(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                    std::istream& in, const std::string& name, ScriptObserver* observer) {
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in) return LocalFailure(observer, "cannot read " + name + ": its size cannot be told");
    const auto size = static_cast<uint64_t>(end);
    if (size >= LOAD_SIZE_LIMIT)
        return LocalFailure(observer, name + " is too large for a LOAD: " + std::to_string(size) + " bytes");
    Report(observer, name, 0, size);

    uint16_t blockSize = 0;
    if (!protocol.LoadBegin(record, a, b, static_cast<uint32_t>(size), blockSize))
        return ResetThenFail(protocol, record, observer, ExchangeFaultOf(protocol));
    if (!UsableBlockSize(blockSize, size)) {
        DeviceFault fault;
        fault.kind = DeviceFault::Kind::BlockSize;
        fault.blockSize = blockSize;
        return ResetThenFail(protocol, record, observer, fault);
    }
    uint8_t checksum = 0;
    // A failed block ends the transfer without a reset.
    if (!SendBlocks(protocol, record, in, size, blockSize, name, observer, checksum)) return false;
    if (Stopped(observer)) return false;
    uint8_t deviceChecksum = 0;
    if (!protocol.LoadVerify(record, deviceChecksum))
        return ResetThenFail(protocol, record, observer, ExchangeFaultOf(protocol));
    if (deviceChecksum != checksum) {
        DeviceFault fault;
        fault.kind = DeviceFault::Kind::Checksum;
        fault.reported = deviceChecksum;
        fault.expected = checksum;
        return ResetThenFail(protocol, record, observer, fault);
    }
    return true;
}

bool ReadBackToFile(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                    uint32_t length, const std::filesystem::path& file, ScriptObserver* observer) {
    // Beyond this the 16-bit request count would wrap; refuse before touching the file.
    if (length >= READ_LENGTH_LIMIT)
        return LocalFailure(observer, ReadTooLong(length));
    const std::string name = file.filename().string();
    ReadBackFile out(file);
    if (!out.IsOpen()) return LocalFailure(observer, "cannot write " + name + ": " + out.Failure());
    const auto write = [&out](const uint8_t* bytes, std::size_t count) { return out.Write(bytes, count); };
    const bool read = ReadBack(protocol, record, a, b, length, name, write, observer);
    // A write that failed is this computer's fault, whatever the device did.
    if ((!read && !out.Failure().empty()) || (read && !out.Close()))
        return LocalFailure(observer, "cannot write " + name + ": " + out.Failure());
    return read;
}

bool ReadBack(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b, uint32_t length,
              const std::string& name, const std::function<bool(const uint8_t*, std::size_t)>& write,
              ScriptObserver* observer) {
    if (length >= READ_LENGTH_LIMIT)
        return LocalFailure(observer, ReadTooLong(length));
    Report(observer, name, 0, length);

    std::array<uint8_t, READ_CHUNK> buffer{};
    uint16_t address = b;
    uint32_t done = 0;
    while (done < length) {
        if (Stopped(observer)) return false;
        const auto count = static_cast<uint16_t>(std::min<uint32_t>(READ_CHUNK, length - done));
        if (!Answered(protocol.Read(record, count, a, address, std::span<uint8_t>(buffer.data(), count)),
                      protocol, observer))
            return false;
        if (!write(buffer.data(), count)) return false;
        // The address is 16 bits on the device: it wraps from 0xFFFF to 0.
        address = static_cast<uint16_t>(address + count);
        done += count;
        Report(observer, name, done, length);
    }
    return true;
}

std::string TaggedReadName(std::string_view name, std::string_view tag) {
    // A leading dot starts no extension: ".BIN" becomes ".BIN-<MAC>".
    const std::size_t dot = name.rfind('.');
    const std::size_t at = dot == std::string_view::npos || dot == 0 ? name.size() : dot;
    return std::string(name.substr(0, at)) + std::string(tag) + std::string(name.substr(at));
}

std::filesystem::path ReadOutputFor(const std::filesystem::path& output, const MacAddress& mac,
                                    ReadNames names) {
    if (names == ReadNames::Shared) return output;
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string tag = "-";
    for (const uint8_t byte : mac) {
        tag += DIGITS[byte >> 4];
        tag += DIGITS[byte & 0x0F];
    }
    return output.parent_path() / TaggedReadName(output.filename().string(), tag);
}

bool RunPlan(std::span<const PlannedCommand> plan, UpgradePackage& package, DeviceProtocol& protocol,
             const DeviceRecord& record, ScriptObserver* observer, ReadNames names) {
    const Command command{package, protocol, record, observer, names};
    for (const PlannedCommand& planned : plan) {
        if (observer != nullptr) observer->OnLine(planned.line, planned.text);
        if (!RunCommand(planned.command, command)) return false;
    }
    return true;
}

bool ReadScriptPlan(const UpgradePackage& package, std::vector<PlannedCommand>& plan) {
    LineReader reader;
    if (!package.OpenWorkText(SCRIPT_FILE, reader)) return false;
    for (int line = 1; reader.NextLine(); ++line)
        if (reader.TokenCount() != 0) plan.push_back({line, reader.Line(), ReadScriptCommand(reader), 0, {}});
    return true;
}

bool RunUpgradeScript(UpgradePackage& package, DeviceProtocol& protocol, const DeviceRecord& record,
                      ScriptObserver* observer) {
    std::vector<PlannedCommand> plan;
    if (!ReadScriptPlan(package, plan))
        return LocalFailure(observer, std::string("cannot read ") + SCRIPT_FILE + " from the private folder " +
                                          package.PrivateFolder().string());
    return RunPlan(plan, package, protocol, record, observer);
}

std::string PrepareLoadMembers(UpgradePackage& package, std::span<const PlannedCommand> plan) {
    for (const PlannedCommand& planned : plan) {
        const ScriptCommand& command = planned.command;
        if (command.keyword != ScriptKeyword::Load || !command.nameUsable) continue;
        if (package.PrepareData(command.name) == ExtractStatus::Done) continue;
        // The package may well be fine: this computer could not take the member.
        MemberInfo member;
        const std::string name = package.Find(command.name, member) == MemberLookup::Found ? member.name : command.name;
        return "cannot extract " + name + " into the private folder " + package.PrivateFolder().string() + ": " +
               (package.WriteError().empty() ? "it could not be written" : package.WriteError());
    }
    return {};
}

}  // namespace quorvane
