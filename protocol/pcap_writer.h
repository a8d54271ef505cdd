#pragma once
// Writes UDP datagrams to a capture file that Wireshark and tshark read: the
// classic pcap format with microsecond timestamps and raw IPv4 frames, each
// datagram behind an IPv4 and a UDP header built from its real addresses.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>

namespace quorvane {

// One datagram's ends; addresses in host order like everywhere else.
struct DatagramEnds {
    uint32_t sourceAddress = 0;
    uint16_t sourcePort = 0;
    uint32_t destinationAddress = 0;
    uint16_t destinationPort = 0;
};

// Devices upgraded side by side write into one capture from several
// threads: every operation holds the writer's lock.
class PcapWriter {
public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates (or empties) the file and writes the file header. False with
    // `error` saying why when the file cannot be written.
    bool Open(const std::filesystem::path& path, std::string& error);
    bool IsOpen() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return file_ != nullptr;
    }

    // Appends one datagram. A failed write ends the capture; Close reports it.
    void Write(const DatagramEnds& ends, std::span<const uint8_t> payload,
               std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
    // Hands what is buffered to the system; cheap when nothing is pending.
    void Flush();
    // Flushes and closes. False with `error` when any write failed.
    bool Close(std::string& error);

private:
    void FlushLocked();
    bool CloseLocked(std::string& error);
    void Fail();

    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::string failure_;
    uint16_t nextIdentification_ = 1;
    bool pending_ = false;
    std::chrono::system_clock::time_point lastFlush_{};
};

}  // namespace quorvane
