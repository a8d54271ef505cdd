#pragma once
// Discovery, the information query and the nine command exchanges. Every
// request goes to the limited broadcast address; the device is named by the
// MAC inside the packet. Out-values are written only on success.

#include <cstdint>
#include <optional>
#include <span>

#include "device_chain.h"
#include "device_record.h"
#include "discovery.h"
#include "exchange.h"
#include "exchange_failure.h"
#include "exchange_stats.h"
#include "packet.h"
#include "transport.h"

namespace quorvane {

class DeviceProtocol {
public:
    DeviceProtocol(Transport& transport, DeviceChain& chain) : transport_(transport), chain_(chain) {}

    // Clears the chain and fills it from one discovery pass (discovery.h):
    // one record per answering device, newest reply first. True when at
    // least one record was added.
    bool Discover(uint16_t first, uint16_t second);
    void SetDiscoverySettings(const DiscoverySettings& settings) { discoverySettings_ = settings; }
    const DiscoveryReport& LastDiscovery() const { return discoveryReport_; }
    // Asks one device for its information block and stores a copy in
    // `record`. False, sending nothing, when its MAC names no single device.
    bool QueryInfo(DeviceRecord& record);
    // The same with one send and one receive wait: how a device that is
    // booting is asked, again and again, whether it is back.
    bool QueryInfoOnce(DeviceRecord& record);

    bool SetProgramMode(const DeviceRecord& record);
    bool Lock(const DeviceRecord& record);
    bool Unlock(const DeviceRecord& record);
    bool Reset(const DeviceRecord& record);
    bool Erase(const DeviceRecord& record, uint16_t value);
    bool LoadBegin(const DeviceRecord& record, uint16_t a, uint16_t b, uint32_t totalLength,
                   uint16_t& blockSize);
    // `data` holds at most REQUEST_CAPACITY - 16 bytes.
    bool LoadBlock(const DeviceRecord& record, uint16_t index, std::span<const uint8_t> data);
    bool LoadVerify(const DeviceRecord& record, uint8_t& checksum);
    // Reads `length` bytes at a:b into `out`, which holds at least `length` bytes.
    bool Read(const DeviceRecord& record, uint16_t length, uint16_t a, uint16_t b,
              std::span<uint8_t> out);

    // Why the last command exchange that returned false failed; a command
    // that succeeds leaves it at ExchangeFault::None. Read it before the
    // next command: every command starts it afresh.
    const ExchangeFailure& LastFailure() const { return lastFailure_; }
    // `listener` (none: nobody) hears every send of the command exchanges.
    void SetSendListener(SendListener* listener) { listener_ = listener; }

    // What the command exchanges since the last ResetStats cost (discovery
    // and the information query are not counted).
    const ExchangeStats& Stats() const { return stats_; }
    void ResetStats() { stats_ = {}; }

    DeviceChain& Chain() { return chain_; }
    Transport& Link() { return transport_; }

private:
    Transport& transport_;
    DeviceChain& chain_;
    DiscoverySettings discoverySettings_;
    DiscoveryReport discoveryReport_;
    ExchangeStats stats_;
    ExchangeFailure lastFailure_;
    SendListener* listener_ = nullptr;

    // The watch of one command exchange with `opcode`: counted into the
    // stats, failing into LastFailure, heard by the listener.
    detail::ExchangeWatch Watch(uint8_t opcode, std::optional<uint16_t> echo = std::nullopt);
};

}  // namespace quorvane
