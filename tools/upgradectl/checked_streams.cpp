#include "tools/upgradectl/checked_streams.h"

#include <unistd.h>

#include "app/exit_codes.h"
#include "tools/upgradectl/command_error.h"

namespace quorvane::cli {

DescriptorBuffer::DescriptorBuffer(int descriptor) {
    out_.Borrow(descriptor);
}

std::string DescriptorBuffer::Failure() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return out_.Failure();
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char one = traits_type::to_char_type(c);
    return xsputn(&one, 1) == 1 ? c : traits_type::eof();
}

std::streamsize DescriptorBuffer::xsputn(const char* text, std::streamsize count) {
    const std::lock_guard<std::mutex> guard(lock_);
    return out_.Write(std::string_view(text, static_cast<std::size_t>(count))) ? count : 0;
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
        std::cerr << MESSAGE_PREFIX << "some output could not be written to stdout: " << out_.Failure()
                  << '\n'
                  << std::flush;
    const bool lost = !out_.Failure().empty() || !err_.Failure().empty();
    return lost ? WithLostOutput(code) : code;
}

}  // namespace quorvane::cli
