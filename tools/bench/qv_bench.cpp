// qv-bench: the measurements behind scripts/bench, on 127.0.0.1 only.
//
//   qv-bench load PORT SECONDS        LOAD block exchanges per second with devsim's first device
//   qv-bench discover PORT DEVICES    one discovery pass: devices found, lost, pass time
//   qv-bench peak-rss COMMAND...      runs COMMAND, prints its exit code and peak RSS in KiB

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/device_protocol.h"
#include "protocol/udp_endpoint.h"

namespace {

using namespace quorvane;
using Clock = std::chrono::steady_clock;

constexpr MacAddress FIRST_DEVICE{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::size_t BLOCK = 512;  // the largest block the interpreter sends

EndpointOptions Loopback(const char* port) {
    EndpointOptions options;
    options.broadcastAddress = 0x7F000001;
    options.port = static_cast<uint16_t>(std::atoi(port));
    return options;
}

int Load(const char* port, double seconds) {
    UdpEndpoint endpoint(Loopback(port));
    DeviceChain chain;
    DeviceProtocol protocol(endpoint, chain);
    DeviceRecord device;
    device.mac = FIRST_DEVICE;
    uint16_t blockSize = 0;
    if (!endpoint.Start() || !protocol.LoadBegin(device, 1, 0, 1u << 24, blockSize)) return 1;
    const std::vector<uint8_t> data(BLOCK, 0xC3);
    long exchanges = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (!protocol.LoadBlock(device, static_cast<uint16_t>(exchanges % 32768), data)) return 1;
        ++exchanges;
    }
    std::printf("%.0f\n", exchanges / std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}

int Discover(const char* port, long devices) {
    UdpEndpoint endpoint(Loopback(port));
    DeviceChain chain;
    DeviceProtocol protocol(endpoint, chain);
    if (!endpoint.Start()) return 1;
    const auto start = Clock::now();
    protocol.Discover(0xFFFF, 0xFFFF);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto& report = protocol.LastDiscovery();
    std::printf("%zu found, %ld lost, pass %.2f s, %d round(s), receive buffer %d bytes\n", report.devices,
                devices - static_cast<long>(report.devices), elapsed, report.rounds,
                endpoint.ReceiveBufferBytes());
    return 0;
}

int PeakRss(char** command) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(command[0], command);
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return 1;
    std::printf("exit %d, peak RSS %ld KiB\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "load") == 0) return Load(argv[2], std::atof(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "discover") == 0) return Discover(argv[2], std::atol(argv[3]));
    if (argc >= 3 && std::strcmp(argv[1], "peak-rss") == 0) return PeakRss(argv + 2);
    std::fprintf(stderr, "usage: qv-bench load PORT SECONDS | discover PORT DEVICES | peak-rss COMMAND...\n");
    return 2;
}
