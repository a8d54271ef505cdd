// Writes the replies corpus as a capture, for the dissector's test: each
// file as one bare reply datagram and as every shorter cut of it, then the
// exchanges the replies target runs on it, requests and hostile replies alike.
//
//   fuzz_replies_pcap CORPUS_DIR OUTPUT.pcap

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_replies.h"
#include "protocol/packet.h"
#include "support/fake_transport.h"

namespace {

namespace fs = std::filesystem;
using quorvane::fuzz::CAPTURE_LOCAL_PORT;

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every prefix, so each header field and length check meets a packet that
// ends right before it.
void WriteCuts(quorvane::PcapWriter& capture, const std::vector<uint8_t>& bytes) {
    const quorvane::DatagramEnds fromDevice{quorvane::testing::LOCALHOST, quorvane::DEVICE_PORT,
                                            quorvane::testing::LOCALHOST, CAPTURE_LOCAL_PORT};
    for (std::size_t size = 0; size <= bytes.size(); ++size)
        capture.Write(fromDevice, std::span<const uint8_t>(bytes.data(), size));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_replies_pcap CORPUS_DIR OUTPUT.pcap\n");
        return 2;
    }
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(argv[1], error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    if (error || files.empty()) {
        std::fprintf(stderr, "fuzz_replies_pcap: no corpus files in %s\n", argv[1]);
        return 1;
    }
    std::sort(files.begin(), files.end());
    quorvane::PcapWriter capture;
    std::string message;
    if (!capture.Open(argv[2], message)) {
        std::fprintf(stderr, "fuzz_replies_pcap: %s\n", message.c_str());
        return 1;
    }
    for (const auto& file : files) {
        const std::vector<uint8_t> bytes = ReadFile(file);
        WriteCuts(capture, bytes);
        quorvane::fuzz::RunReplyExchanges(bytes, &capture);
    }
    if (!capture.Close(message)) {
        std::fprintf(stderr, "fuzz_replies_pcap: %s\n", message.c_str());
        return 1;
    }
    return 0;
}
