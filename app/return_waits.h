#pragma once
// Devices run in turn wait for their return on threads of their own, each
// over a link of its own, while the next device's script runs: a device
// that takes a minute to boot costs the run that minute once, not once per
// device. Each wait's end is told at once, from the wait's thread, and
// kept for the run's own thread, which takes it between two devices.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/return_check.h"
#include "app/upgrade_command.h"

namespace quorvane {

class ReturnWaits {
public:
    struct Ended {
        std::size_t index = 0;
        ReturnCheck check;
    };

    // `openLink` (may be empty: nothing is waited for here) opens each
    // wait's link; `limit` bounds every wait from its start; `onEnded`
    // hears each end on the wait's thread.
    ReturnWaits(LinkFactory openLink, std::chrono::milliseconds limit, std::function<void(const Ended&)> onEnded);
    // Ends every wait still under way as not checked and joins its thread.
    ~ReturnWaits();
    ReturnWaits(const ReturnWaits&) = delete;
    ReturnWaits& operator=(const ReturnWaits&) = delete;

    // Starts waiting for the device of `record` (device `index` of the
    // run), whose firmware text was `firmwareBefore`. False when its link
    // could not be opened or no thread could be had: the caller waits itself.
    bool Start(std::size_t index, const DeviceRecord& record, const std::string& firmwareBefore);

    // The waits that ended since the last call, in the order they ended,
    // their threads joined; with `most` above zero, waits up to that long
    // for one when none has.
    std::vector<Ended> TakeEnded(std::chrono::milliseconds most = std::chrono::milliseconds(0));
    // True while any wait is under way or its end not yet taken.
    bool Pending() const;
    // The waits under way end now, as not checked: the run was asked to stop.
    void Stop();

private:
    void Wait(std::size_t index, std::unique_ptr<Transport> link, DeviceRecord asked, std::string firmwareBefore);

    LinkFactory openLink_;
    std::chrono::milliseconds limit_;
    std::function<void(const Ended&)> onEnded_;
    mutable std::mutex lock_;
    std::condition_variable ended_;
    std::vector<Ended> done_;  // under lock_
    std::size_t underWay_ = 0;  // under lock_
    bool stop_ = false;         // under lock_
    // Each wait's thread by device index, joined once its end is taken;
    // touched only by the thread that starts the waits.
    std::map<std::size_t, std::thread> threads_;
};

}  // namespace quorvane
