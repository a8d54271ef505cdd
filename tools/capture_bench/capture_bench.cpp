// capture_bench: what --capture costs. Loads the same image into a device
// of a running devsim again and again, through the endpoint alone and
// through the recording transport that --capture puts in front of it,
// alternating the two, and prints both LOAD rates and their ratio.
//
//   capture_bench --port N [--rounds R] [--megabytes M] [--capture-file FILE]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "protocol/device_chain.h"
#include "protocol/device_protocol.h"
#include "protocol/pcap_writer.h"
#include "protocol/recording_transport.h"
#include "protocol/udp_endpoint.h"

namespace {

using namespace quorvane;
using Clock = std::chrono::steady_clock;

constexpr uint32_t LOOPBACK = 0x7F000001;
constexpr std::size_t MAX_BLOCK = REQUEST_CAPACITY - 16;

struct Settings {
    uint16_t port = 0;
    int rounds = 5;
    std::size_t megabytes = 8;
    std::string captureFile = "/tmp/capture_bench.pcap";
};

std::optional<Settings> ParseArguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--port")
            settings.port = static_cast<uint16_t>(std::atoi(value));
        else if (name == "--rounds")
            settings.rounds = std::atoi(value);
        else if (name == "--megabytes")
            settings.megabytes = static_cast<std::size_t>(std::atoi(value));
        else if (name == "--capture-file")
            settings.captureFile = value;
        else
            return std::nullopt;
    }
    if (argc % 2 == 0 || settings.port == 0 || settings.rounds < 1 || settings.megabytes < 1)
        return std::nullopt;
    return settings;
}

// One LOAD of `image`, timed from the begin request to the verify reply.
// Nothing when an exchange fails.
std::optional<double> TimedLoad(DeviceProtocol& protocol, const DeviceRecord& device,
                                const std::vector<uint8_t>& image) {
    const auto start = Clock::now();
    uint16_t blockSize = 0;
    if (!protocol.LoadBegin(device, 1, 0, static_cast<uint32_t>(image.size()), blockSize) || blockSize == 0)
        return std::nullopt;
    const std::size_t block = std::min<std::size_t>(blockSize, MAX_BLOCK);
    for (std::size_t offset = 0, index = 0; offset < image.size(); offset += block, ++index) {
        const std::size_t length = std::min(block, image.size() - offset);
        if (!protocol.LoadBlock(device, static_cast<uint16_t>(index),
                                std::span<const uint8_t>(image.data() + offset, length)))
            return std::nullopt;
    }
    uint8_t checksum = 0;
    if (!protocol.LoadVerify(device, checksum)) return std::nullopt;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A fresh socket (and capture file) for every run, as a command would have.
std::optional<double> LoadRate(const Settings& settings, const std::vector<uint8_t>& image, bool capture) {
    EndpointOptions options;
    options.broadcastAddress = LOOPBACK;
    options.port = settings.port;
    options.receiveWait = std::chrono::milliseconds(100);
    UdpEndpoint endpoint(options);
    PcapWriter writer;
    std::string error;
    if (!endpoint.Start() || (capture && !writer.Open(settings.captureFile, error))) {
        std::fprintf(stderr, "capture_bench: cannot start: %s\n", error.c_str());
        return std::nullopt;
    }
    RecordingTransport recorder(endpoint);
    if (capture) recorder.RecordInto(writer, endpoint);
    DeviceChain chain;
    DeviceProtocol protocol(recorder, chain);
    if (!protocol.Discover(0xFFFF, 0xFFFF) || !protocol.SetProgramMode(*chain.Head())) {
        std::fprintf(stderr, "capture_bench: no device answers on port %u\n", settings.port);
        return std::nullopt;
    }
    const auto seconds = TimedLoad(protocol, *chain.Head(), image);
    if (!seconds || !writer.Close(error)) {
        std::fprintf(stderr, "capture_bench: the LOAD failed %s\n", error.c_str());
        return std::nullopt;
    }
    return static_cast<double>(image.size()) / *seconds / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const auto settings = ParseArguments(argc, argv);
    if (!settings) {
        std::fprintf(stderr,
                     "usage: capture_bench --port N [--rounds R] [--megabytes M] [--capture-file FILE]\n");
        return 2;
    }
    std::vector<uint8_t> image(settings->megabytes << 20);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 10));
    std::vector<double> plain, captured, ratios;
    for (int round = 1; round <= settings->rounds; ++round) {
        // Alternating the order keeps a warming or busier machine from favouring one side.
        const bool captureFirst = round % 2 == 0;
        std::optional<double> rates[2];
        for (int run = 0; run < 2; ++run) {
            const bool capture = (run == 0) == captureFirst;
            rates[capture] = LoadRate(*settings, image, capture);
            if (!rates[capture]) return 1;
        }
        plain.push_back(*rates[0]);
        captured.push_back(*rates[1]);
        ratios.push_back(*rates[1] / *rates[0]);
        std::printf("round %d: without --capture %.1f MB/s, with --capture %.1f MB/s\n", round, *rates[0],
                    *rates[1]);
    }
    const double without = Median(plain), with = Median(captured);
    std::printf("LOAD rate without --capture: %.1f MB/s (median of %d loads of %zu MB)\n", without,
                settings->rounds, settings->megabytes);
    std::printf("LOAD rate with --capture:    %.1f MB/s (median of %d loads of %zu MB)\n", with,
                settings->rounds, settings->megabytes);
    std::printf("ratio with/without: %.3f\n", with / without);
    // Each round's two loads ran back to back: their ratio is less at the
    // mercy of other work on the machine than the medians are.
    std::printf("median of the rounds' ratios: %.3f\n", Median(ratios));
    return 0;
}
