#pragma once
// Runs a package's upgrade script against one device.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_protocol.h"

namespace quorvane {

class UpgradePackage;
struct PlannedCommand;

inline constexpr std::size_t LOAD_BUFFER = 512;
inline constexpr std::size_t READ_CHUNK = 128;
// A READ must stay below this: its request count travels in 16 bits.
inline constexpr uint32_t READ_LENGTH_LIMIT = 1u << 23;

// Why the device or the network failed a script command, besides an
// exchange that got no answer: what the device answered that the run
// cannot go on with.
struct DeviceFault {
    enum class Kind {
        Exchange,   // `exchange` says how it failed
        Checksum,   // LOAD_VERIFY answered `reported`; the bytes sent sum to `expected`
        BlockSize,  // LOAD_BEGIN answered `blockSize`, which cannot carry the file
    };
    Kind kind = Kind::Exchange;
    ExchangeFailure exchange;
    uint8_t reported = 0;
    uint8_t expected = 0;
    uint16_t blockSize = 0;
};

// Told what the interpreter is doing, so front ends can draw progress.
class ScriptObserver {
public:
    virtual ~ScriptObserver() = default;
    // A non-empty script line (as cleaned) is about to run; numbered from 1.
    virtual void OnLine(int lineNumber, std::string_view line) = 0;
    // Bytes done of a LOAD or READ transfer of `total` bytes.
    virtual void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) = 0;
    // Asked before every exchange: true ends the run there, as a failure,
    // so that an interrupted run stops between exchanges, never inside one.
    virtual bool StopRequested() const { return false; }
    // The run fails because of this computer, not the device or the
    // network: `text` says what and the system's reason ("cannot write
    // READBACK.BIN: No space left on device"). Told right before the run ends.
    virtual void OnLocalError(std::string_view) {}
    // The run fails because the device or the network did not do what a
    // command asked (see DeviceFault). Told right before the run ends.
    virtual void OnDeviceFault(const DeviceFault&) {}
};

// How READ names its output file: with one device upgraded the script's
// own name; with several each device writes a file of its own, so that no
// device's read-back overwrites another's.
enum class ReadNames { Shared, PerDevice };

// `name` with `tag` added before its extension (at the end of a name
// without one), as a READ per device adds the MAC's: "READBACK-<MAC>.BIN"
// for the tag "-<MAC>".
std::string TaggedReadName(std::string_view name, std::string_view tag);
// The file a READ of `output` (the script's name, or the path the package
// check planned for it) writes for the device with `mac`: `output` itself
// when the name is shared, else "READBACK-0050C21A2B3C.BIN" for READBACK.BIN
// and 00:50:c2:1a:2b:3c, the MAC in upper-case hexadecimal after a '-'
// before the extension, in the same folder. The run and the check both
// name the files by it.
std::filesystem::path ReadOutputFor(const std::filesystem::path& output, const MacAddress& mac, ReadNames names);

// Runs the planned script lines, in order, against one device: the plan
// the package check made, so the script is read once for every device of
// a run. Lines that are not device commands are told and skipped.
bool RunPlan(std::span<const PlannedCommand> plan, UpgradePackage& package, DeviceProtocol& protocol,
             const DeviceRecord& record, ScriptObserver* observer = nullptr,
             ReadNames names = ReadNames::Shared);
// Every non-empty line of the package's script, unknown keywords included,
// as RunPlan takes them; false when the script cannot be read.
bool ReadScriptPlan(const UpgradePackage& package, std::vector<PlannedCommand>& plan);
// Reads the script and runs it (ReadScriptPlan, then RunPlan).
bool RunUpgradeScript(UpgradePackage& package, DeviceProtocol& protocol, const DeviceRecord& record,
                      ScriptObserver* observer = nullptr);
// Extracts every member the plan loads, once, for all runs that follow:
// runs on several devices at once then only read the extracted files and
// never use the package's container. Empty on success, else why this
// computer could not ("cannot extract FW.BIN into the private folder P:
// No space left on device"): nothing may then be sent.
std::string PrepareLoadMembers(UpgradePackage& package, std::span<const PlannedCommand> plan);
bool DownloadFile(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                  const std::filesystem::path& file, ScriptObserver* observer = nullptr);
// Sends all of `in` (from its start) as DownloadFile sends a file; `name` is
// what the observer is told.
bool DownloadStream(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                    std::istream& in, const std::string& name, ScriptObserver* observer = nullptr);
bool ReadBackToFile(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b,
                    uint32_t length, const std::filesystem::path& file,
                    ScriptObserver* observer = nullptr);
// Reads `length` bytes back as ReadBackToFile does, handing each chunk to
// `write`; false as soon as a read or a write fails.
bool ReadBack(DeviceProtocol& protocol, const DeviceRecord& record, uint16_t a, uint16_t b, uint32_t length,
              const std::string& name, const std::function<bool(const uint8_t*, std::size_t)>& write,
              ScriptObserver* observer = nullptr);
uint32_t ByteSum(std::span<const uint8_t> bytes);

}  // namespace quorvane
