#include "app/return_waits.h"

#include <system_error>
#include <utility>

#include "protocol/device_chain.h"

namespace quorvane {

ReturnWaits::ReturnWaits(LinkFactory openLink, std::chrono::milliseconds limit,
                         std::function<void(const Ended&)> onEnded)
    : openLink_(std::move(openLink)), limit_(limit), onEnded_(std::move(onEnded)) {}

ReturnWaits::~ReturnWaits() {
    Stop();
    for (auto& [index, thread] : threads_) thread.join();
}

bool ReturnWaits::Start(std::size_t index, const DeviceRecord& record, const std::string& firmwareBefore) {
    if (!openLink_) return false;
    std::string reason;
    std::unique_ptr<Transport> link = openLink_(record, reason);
    if (link == nullptr) return false;
    // The device is asked about in a record of its own, so that the
    // list's record keeps what admission saw.
    DeviceRecord asked;
    asked.mac = record.mac;
    asked.ipAddress = record.ipAddress;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        ++underWay_;
    }
    try {
        threads_.emplace(index,
                         std::thread(&ReturnWaits::Wait, this, index, std::move(link), std::move(asked), firmwareBefore));
    } catch (const std::system_error&) {
        const std::lock_guard<std::mutex> guard(lock_);
        --underWay_;
        return false;
    }
    return true;
}

void ReturnWaits::Wait(std::size_t index, std::unique_ptr<Transport> link, DeviceRecord asked,
                       std::string firmwareBefore) {
    DeviceChain chain;
    DeviceProtocol protocol(*link, chain);
    ReturnCheck check = AwaitReturn(protocol, asked, firmwareBefore, limit_, [this] {
        const std::lock_guard<std::mutex> guard(lock_);
        return stop_;
    });
    link.reset();  // its socket is not needed once the wait has ended
    Ended ended{index, std::move(check)};
    if (onEnded_) onEnded_(ended);
    const std::lock_guard<std::mutex> guard(lock_);
    done_.push_back(std::move(ended));
    --underWay_;
    ended_.notify_all();
}

std::vector<ReturnWaits::Ended> ReturnWaits::TakeEnded(std::chrono::milliseconds most) {
    std::vector<Ended> taken;
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (most.count() > 0)
            ended_.wait_for(guard, most, [this] { return !done_.empty() || underWay_ == 0; });
        taken = std::exchange(done_, {});
    }
    // Each of these threads has told its end and is returning: its stack
    // goes now rather than with the batch.
    for (const Ended& end : taken) {
        const auto thread = threads_.find(end.index);
        if (thread == threads_.end()) continue;
        thread->second.join();
        threads_.erase(thread);
    }
    return taken;
}

bool ReturnWaits::Pending() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return underWay_ > 0 || !done_.empty();
}

void ReturnWaits::Stop() {
    const std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
}

}  // namespace quorvane
