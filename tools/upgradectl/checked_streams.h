#pragma once
// Standard output and standard error whose every write is checked. A pipe
// whose reader went away (`| head`, a pager that was closed) or a full disk
// under a redirection makes the writes fail; the program goes on with its
// work, since stopping in the middle of an upgrade would harm a device,
// and says so at the end, in its exit code as well.

#include <iostream>
#include <streambuf>
#include <string>

#include "protocol/output_file.h"

namespace quorvane::cli {

// A stream buffer over a descriptor, keeping the first failed write.
class DescriptorBuffer final : public std::streambuf {
public:
    explicit DescriptorBuffer(int descriptor);
    ~DescriptorBuffer() override { sync(); }
    // The system's reason for the first failed write; empty when none.
    const std::string& Failure() const { return out_.Failure(); }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Drain();

    OutputFile out_;
    char buffer_[4096];
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
