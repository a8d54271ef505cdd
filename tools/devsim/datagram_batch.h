#pragma once
// Datagrams read and written many at a time: one recvmmsg takes every
// request that is waiting (up to a batch), one sendmmsg sends every reply
// that is due. With a thousand devices storing at once, a system call per
// datagram cost more than the devices' own work.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/devsim/capture_tap.h"

namespace quorvane::devsim {

class ReceiveBatch {
public:
    // Room for `count` datagrams of up to `capacity` bytes each.
    ReceiveBatch(std::size_t count, std::size_t capacity);

    // Reads the datagrams that are waiting, at most Capacity(); with `block`,
    // waits for the first (up to the socket's receive time-out). The number
    // read, or -1 with errno set.
    int Receive(int fd, bool block);
    std::size_t Capacity() const { return headers_.size(); }
    std::span<const uint8_t> Bytes(std::size_t i) const;
    const sockaddr_in& From(std::size_t i) const { return from_[i]; }

private:
    std::size_t capacity_;
    std::vector<uint8_t> buffer_;
    std::vector<sockaddr_in> from_;
    std::vector<iovec> parts_;
    std::vector<mmsghdr> headers_;
};

class SendBatch {
public:
    // Keeps a copy of `bytes` to send to `to` with the others.
    void Add(const sockaddr_in& to, std::span<const uint8_t> bytes);
    std::size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    std::span<const uint8_t> Bytes(std::size_t i) const;
    const sockaddr_in& To(std::size_t i) const { return entries_[i].to; }

    // Sends every datagram in the order added and empties the batch; the tap
    // sees those the system took. A datagram the system refuses is a lost
    // reply, which the program survives by resending.
    void Flush(int fd, CaptureTap& tap);
    // Forgets the datagrams but keeps their room.
    void Clear();

private:
    struct Entry {
        sockaddr_in to{};
        std::size_t offset = 0;
        std::size_t length = 0;
    };

    void Prepare();

    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
    std::vector<iovec> parts_;
    std::vector<mmsghdr> headers_;
};

}  // namespace quorvane::devsim
