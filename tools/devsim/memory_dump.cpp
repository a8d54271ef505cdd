#include "tools/devsim/memory_dump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/devsim/device_profile.h"

namespace quorvane::devsim {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(DIGITS[b >> 4]);
        out.push_back(DIGITS[b & 15]);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

bool ParseAddress(const std::string& text, uint64_t& out) {
    unsigned long long a = 0, b = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%llx:%llx%c", &a, &b, &tail) != 2 || b > 0xFFFF) return false;
    out = a * SEGMENT_SIZE + b;
    return true;
}

bool WriteBinary(const std::string& path, const std::vector<MemorySegment>& segments) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (segments.empty()) return static_cast<bool>(out);
    const uint64_t begin = segments.front().address;
    uint64_t at = begin;
    for (const auto& segment : segments) {
        // Gaps between stretches read as blank flash.
        const std::vector<char> gap(segment.address - at, static_cast<char>(BLANK_BYTE));
        out.write(gap.data(), static_cast<std::streamsize>(gap.size()));
        out.write(reinterpret_cast<const char*>(segment.bytes.data()),
                  static_cast<std::streamsize>(segment.bytes.size()));
        at = segment.address + segment.bytes.size();
    }
    return static_cast<bool>(out);
}

}  // namespace

std::string FormatAddress(uint64_t linear) {
    char text[32];
    std::snprintf(text, sizeof text, "%04llx:%04llx", static_cast<unsigned long long>(linear / SEGMENT_SIZE),
                  static_cast<unsigned long long>(linear % SEGMENT_SIZE));
    return text;
}

bool WriteMemoryDump(const std::string& dir, const VirtualDevice& device, std::string& error) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);  // a missing dump folder is made, not an error
    const std::string stem = dir + "/" + DumpFileStem(device.Profile());
    const auto segments = device.Memory().Segments();
    std::ofstream mem(stem + ".mem", std::ios::trunc);
    if (!mem) {
        error = "cannot write " + stem + ".mem";
        return false;
    }
    mem << "# devsim memory of " << FormatMac(device.Mac()) << "\n";
    uint64_t span = 0;
    if (segments.empty()) {
        mem << "span none\n";
    } else {
        span = segments.back().address + segments.back().bytes.size() - segments.front().address;
        mem << "span " << FormatAddress(segments.front().address) << " " << span << "\n";
    }
    for (const auto& segment : segments) {
        mem << FormatAddress(segment.address) << " " << segment.bytes.size() << " " << Hex(segment.bytes)
            << "\n";
    }
    if (!mem.flush()) {
        error = "cannot write " + stem + ".mem";
        return false;
    }
    if (span <= MAX_BIN_SPAN && !WriteBinary(stem + ".bin", segments)) {
        error = "cannot write " + stem + ".bin";
        return false;
    }
    return true;
}

bool ReadMemoryDump(const std::string& path, std::vector<MemorySegment>& out) {
    std::ifstream in(path);
    if (!in) return false;
    std::vector<MemorySegment> segments;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("span ", 0) == 0) continue;
        std::istringstream fields(line);
        std::string address, hex;
        std::size_t length = 0;
        MemorySegment segment;
        if (!(fields >> address >> length) || !ParseAddress(address, segment.address)) return false;
        fields >> hex;
        if (!ParseHex(hex, segment.bytes) || segment.bytes.size() != length) return false;
        segments.push_back(std::move(segment));
    }
    out = std::move(segments);
    return true;
}

}  // namespace quorvane::devsim
