#include "protocol/pcap_writer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "protocol/output_file.h"

namespace quorvane {
namespace {

constexpr uint32_t PCAP_MAGIC_MICROSECONDS = 0xA1B2C3D4;
constexpr uint16_t PCAP_VERSION_MAJOR = 2;
constexpr uint16_t PCAP_VERSION_MINOR = 4;
constexpr uint32_t SNAPSHOT_LENGTH = 65535;
constexpr uint32_t LINKTYPE_RAW = 101;  // each frame starts with its IPv4 header

constexpr std::size_t IPV4_HEADER_SIZE = 20;
constexpr std::size_t UDP_HEADER_SIZE = 8;
constexpr std::size_t FRAME_HEADERS_SIZE = IPV4_HEADER_SIZE + UDP_HEADER_SIZE;
// The IPv4 total length is 16 bits wide: no UDP datagram carries more.
constexpr std::size_t MAX_PAYLOAD = 65535 - FRAME_HEADERS_SIZE;
constexpr uint8_t IP_PROTOCOL_UDP = 17;
constexpr uint8_t DEFAULT_TTL = 64;

// A capture must survive a program that is killed: buffered records never
// wait longer than this for the system to get them.
constexpr std::chrono::milliseconds FLUSH_INTERVAL{500};
// Room for a few hundred full-size frames, so that during a LOAD the file
// costs one system call per several hundred datagrams, not one per few.
constexpr std::size_t FILE_BUFFER_SIZE = 256 * 1024;

// The pcap headers are written little-endian; readers recognise the order
// by the magic.
void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void PutLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
// The IPv4 and UDP headers are in network order.
void PutBe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}
void PutBe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint16_t Ipv4HeaderChecksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < IPV4_HEADER_SIZE; i += 2) sum += (header[i] << 8) | header[i + 1];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// The UDP checksum stays 0, which IPv4 defines as "not computed": the
// loopback and most network cards never let a reader see the real one anyway.
void BuildFrameHeaders(uint8_t* frame, const DatagramEnds& ends, std::size_t payloadSize,
                       uint16_t identification) {
    uint8_t* ip = frame;
    ip[0] = 0x45;  // version 4, five 32-bit words of header
    ip[1] = 0;
    PutBe16(ip + 2, static_cast<uint16_t>(FRAME_HEADERS_SIZE + payloadSize));
    PutBe16(ip + 4, identification);
    PutBe16(ip + 6, 0);  // not fragmented
    ip[8] = DEFAULT_TTL;
    ip[9] = IP_PROTOCOL_UDP;
    PutBe16(ip + 10, 0);
    PutBe32(ip + 12, ends.sourceAddress);
    PutBe32(ip + 16, ends.destinationAddress);
    PutBe16(ip + 10, Ipv4HeaderChecksum(ip));

    uint8_t* udp = frame + IPV4_HEADER_SIZE;
    PutBe16(udp, ends.sourcePort);
    PutBe16(udp + 2, ends.destinationPort);
    PutBe16(udp + 4, static_cast<uint16_t>(UDP_HEADER_SIZE + payloadSize));
    PutBe16(udp + 6, 0);
}

}  // namespace

PcapWriter::~PcapWriter() {
    std::string ignored;
    Close(ignored);
}

bool PcapWriter::Open(const std::filesystem::path& path, std::string& error) {
    const std::lock_guard<std::mutex> guard(lock_);
    CloseLocked(error);
    error.clear();
    failure_.clear();
    path_ = path;
    std::string reason;
    const int fd = OpenOutputDescriptor(path, OutputMode::Truncate, reason);
    file_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (file_ == nullptr) {
        if (fd >= 0) {
            reason = std::strerror(errno);
            ::close(fd);
        }
        error = "cannot write capture file " + path.string() + ": " + reason;
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, FILE_BUFFER_SIZE);
    std::array<uint8_t, 24> header{};
    PutLe32(&header[0], PCAP_MAGIC_MICROSECONDS);
    PutLe16(&header[4], PCAP_VERSION_MAJOR);
    PutLe16(&header[6], PCAP_VERSION_MINOR);
    // Bytes 8-15, time zone and timestamp accuracy, are 0: timestamps are UTC.
    PutLe32(&header[16], SNAPSHOT_LENGTH);
    PutLe32(&header[20], LINKTYPE_RAW);
    // The header reaches the disk now, so a file that cannot take it is
    // reported before any datagram is sent.
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() || std::fflush(file_) != 0) {
        error = "cannot write capture file " + path.string() + ": " + std::strerror(errno);
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    lastFlush_ = std::chrono::system_clock::now();
    return true;
}

void PcapWriter::Write(const DatagramEnds& ends, std::span<const uint8_t> payload,
                       std::chrono::system_clock::time_point when) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (file_ == nullptr) return;
    const std::size_t size = std::min(payload.size(), MAX_PAYLOAD);
    std::array<uint8_t, 16 + FRAME_HEADERS_SIZE> head{};
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    PutLe32(&head[0], static_cast<uint32_t>(micros / 1000000));
    PutLe32(&head[4], static_cast<uint32_t>(micros % 1000000));
    PutLe32(&head[8], static_cast<uint32_t>(FRAME_HEADERS_SIZE + size));
    PutLe32(&head[12], static_cast<uint32_t>(FRAME_HEADERS_SIZE + size));
    BuildFrameHeaders(&head[16], ends, size, nextIdentification_++);
    if (std::fwrite(head.data(), 1, head.size(), file_) != head.size() ||
        std::fwrite(payload.data(), 1, size, file_) != size) {
        Fail();
        return;
    }
    pending_ = true;
    // Not the datagram's own time, which may be its earlier arrival; a
    // clock that went back (the system time was set) flushes too rather
    // than waiting.
    const auto now = std::chrono::system_clock::now();
    if (now - lastFlush_ >= FLUSH_INTERVAL || now < lastFlush_) FlushLocked();
}

void PcapWriter::Flush() {
    const std::lock_guard<std::mutex> guard(lock_);
    FlushLocked();
}

void PcapWriter::FlushLocked() {
    if (file_ == nullptr || !pending_) return;
    pending_ = false;
    lastFlush_ = std::chrono::system_clock::now();
    if (std::fflush(file_) != 0) Fail();
}

bool PcapWriter::Close(std::string& error) {
    const std::lock_guard<std::mutex> guard(lock_);
    return CloseLocked(error);
}

bool PcapWriter::CloseLocked(std::string& error) {
    if (file_ != nullptr) {
        if (std::fclose(file_) != 0 && failure_.empty()) failure_ = std::strerror(errno);
        file_ = nullptr;
    }
    if (failure_.empty()) return true;
    error = "capture file " + path_.string() + " is incomplete: " + failure_;
    return false;
}

void PcapWriter::Fail() {
    failure_ = std::strerror(errno);
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace quorvane
