#pragma once
// Standard output and standard error whose every write is checked. A pipe
// whose reader went away (`| head`, a pager that was closed) or a full disk
// under a redirection makes the writes fail; the program goes on with its
// work, since stopping in the middle of an upgrade would harm a device,
// and says so at the end, in its exit code as well.

#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

#include "protocol/output_file.h"

namespace quorvane::cli {

// A stream buffer over a descriptor, keeping the first failed write. It
// holds nothing back, and every write takes its lock: the standard streams
// are written from several threads (the signal watch, devices side by
// side), which their own buffers allow.
class DescriptorBuffer final : public std::streambuf {
public:
    explicit DescriptorBuffer(int descriptor);
    // The system's reason for the first failed write; empty when none.
    std::string Failure() const;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

private:
    mutable std::mutex lock_;
    OutputFile out_;
};

// std::cout and std::cerr through DescriptorBuffers for as long as it lives.
class CheckedStandardStreams {
public:
    CheckedStandardStreams();
    ~CheckedStandardStreams();
    CheckedStandardStreams(const CheckedStandardStreams&) = delete;
    CheckedStandardStreams& operator=(const CheckedStandardStreams&) = delete;

    // Flushes both; when stdout lost output, says so on stderr. Returns the
    // exit code `code` becomes (WithLostOutput when either lost output).
    int Finish(int code);

private:
    DescriptorBuffer out_;
    DescriptorBuffer err_;
    std::streambuf* oldOut_;
    std::streambuf* oldErr_;
};

}  // namespace quorvane::cli
