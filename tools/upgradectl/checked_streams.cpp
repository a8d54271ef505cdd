#include "tools/upgradectl/checked_streams.h"

#include <unistd.h>

#include "app/exit_codes.h"

namespace quorvane::cli {

DescriptorBuffer::DescriptorBuffer(int descriptor) {
    out_.Borrow(descriptor);
    setp(buffer_, buffer_ + sizeof buffer_);
}

bool DescriptorBuffer::Drain() {
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return pending.empty() || out_.Write(pending);
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() {
    return Drain() ? 0 : -1;
}

CheckedStandardStreams::CheckedStandardStreams()
    : out_(STDOUT_FILENO),
      err_(STDERR_FILENO),
      oldOut_(std::cout.rdbuf(&out_)),
      oldErr_(std::cerr.rdbuf(&err_)) {}

CheckedStandardStreams::~CheckedStandardStreams() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(oldOut_);
    std::cerr.rdbuf(oldErr_);
}

int CheckedStandardStreams::Finish(int code) {
    std::cout.flush();
    std::cerr.flush();
    if (!out_.Failure().empty())
        std::cerr << "upgradectl: some output could not be written to stdout: " << out_.Failure() << '\n'
                  << std::flush;
    const bool lost = !out_.Failure().empty() || !err_.Failure().empty();
    return lost ? WithLostOutput(code) : code;
}

}  // namespace quorvane::cli
