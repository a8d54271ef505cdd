#pragma once
// A progress that passes every report on to another (the display), so that
// a layer which records or streams the run overrides only what it adds and
// a report added later still reaches the display through it.

#include "app/upgrade_command.h"

namespace quorvane {

class ForwardingProgress : public UpgradeProgress {
public:
    explicit ForwardingProgress(UpgradeProgress* next) : next_(next) {}

    void OnDeviceStart(std::size_t index, std::size_t count, const DeviceRecord& record) override {
        if (next_) next_->OnDeviceStart(index, count, record);
    }
    void OnDeviceEnd(std::size_t index, bool succeeded) override {
        if (next_) next_->OnDeviceEnd(index, succeeded);
    }
    void OnDeviceCounters(std::size_t index, const DeviceCounters& counters) override {
        if (next_) next_->OnDeviceCounters(index, counters);
    }
    void OnDeviceLine(std::size_t index, int lineNumber, std::string_view line) override {
        if (next_) next_->OnDeviceLine(index, lineNumber, line);
    }
    void OnDeviceTransfer(std::size_t index, const TransferStep& step) override {
        if (next_) next_->OnDeviceTransfer(index, step);
    }
    void OnDeviceError(std::size_t index, std::string_view error) override {
        if (next_) next_->OnDeviceError(index, error);
    }
    void OnDeviceWaiting(std::size_t index, std::string_view waiting, const ExchangeStats& exchanges) override {
        if (next_) next_->OnDeviceWaiting(index, waiting, exchanges);
    }
    void OnJobsLowered(std::size_t asked, std::size_t had, std::string_view reason) override {
        if (next_) next_->OnJobsLowered(asked, had, reason);
    }
    void OnDeviceReturn(std::size_t index, const ReturnCheck& check) override {
        if (next_) next_->OnDeviceReturn(index, check);
    }
    void OnDeviceSkipped(std::size_t index) override {
        if (next_) next_->OnDeviceSkipped(index);
    }
    void OnCanariesDone(std::size_t canaries, bool passed) override {
        if (next_) next_->OnCanariesDone(canaries, passed);
    }
    void OnLine(int lineNumber, std::string_view line) override {
        if (next_) next_->OnLine(lineNumber, line);
    }
    void OnTransfer(std::string_view fileName, uint64_t done, uint64_t total) override {
        if (next_) next_->OnTransfer(fileName, done, total);
    }
    bool StopRequested() const override { return next_ != nullptr && next_->StopRequested(); }

protected:
    UpgradeProgress* Next() const { return next_; }

private:
    UpgradeProgress* next_;
};

}  // namespace quorvane
