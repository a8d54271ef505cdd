#include "tools/devsim/datagram_batch.h"

#include <algorithm>

namespace quorvane::devsim {
namespace {

// The most messages one sendmmsg takes (UIO_MAXIOV).
constexpr std::size_t SEND_CALL_LIMIT = 1024;

}  // namespace

ReceiveBatch::ReceiveBatch(std::size_t count, std::size_t capacity)
    : capacity_(capacity), buffer_(count * capacity), from_(count), parts_(count), headers_(count) {
    for (std::size_t i = 0; i < count; ++i) {
        parts_[i] = {buffer_.data() + i * capacity, capacity};
        headers_[i] = {};
        headers_[i].msg_hdr.msg_iov = &parts_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
        headers_[i].msg_hdr.msg_name = &from_[i];
    }
}

int ReceiveBatch::Receive(int fd, bool block) {
    // The system writes back the length of each source address it fills in.
    for (auto& header : headers_) header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    const int flags = block ? MSG_WAITFORONE : MSG_DONTWAIT;
    return ::recvmmsg(fd, headers_.data(), static_cast<unsigned>(headers_.size()), flags, nullptr);
}

std::span<const uint8_t> ReceiveBatch::Bytes(std::size_t i) const {
    return std::span<const uint8_t>(buffer_).subspan(i * capacity_, headers_[i].msg_len);
}

void SendBatch::Add(const sockaddr_in& to, std::span<const uint8_t> bytes) {
    const std::size_t offset = bytes_.size();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    entries_.push_back({to, offset, bytes.size()});
}

std::span<const uint8_t> SendBatch::Bytes(std::size_t i) const {
    return std::span<const uint8_t>(bytes_).subspan(entries_[i].offset, entries_[i].length);
}

// The addresses are only taken now: the byte buffer may have moved while
// the batch grew.
void SendBatch::Prepare() {
    parts_.resize(entries_.size());
    headers_.resize(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        parts_[i] = {bytes_.data() + entries_[i].offset, entries_[i].length};
        headers_[i] = {};
        headers_[i].msg_hdr.msg_name = &entries_[i].to;
        headers_[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        headers_[i].msg_hdr.msg_iov = &parts_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
    }
}

void SendBatch::Flush(int fd, CaptureTap& tap) {
    if (entries_.empty()) return;
    Prepare();
    std::size_t next = 0;
    while (next < entries_.size()) {
        const auto count = static_cast<unsigned>(std::min(entries_.size() - next, SEND_CALL_LIMIT));
        const int sent = ::sendmmsg(fd, headers_.data() + next, count, 0);
        // A refused datagram stops the call: it is passed over and the rest go on.
        const std::size_t done = sent > 0 ? static_cast<std::size_t>(sent) : 0;
        for (std::size_t i = next; i < next + done; ++i) tap.Sent(entries_[i].to, Bytes(i));
        next += sent > 0 ? done : 1;
    }
    Clear();
}

void SendBatch::Clear() {
    bytes_.clear();
    entries_.clear();
}

}  // namespace quorvane::devsim
