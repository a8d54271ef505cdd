#pragma once
// A file the program writes for the user beside its real work: the packet
// capture, the trace log, the event stream. Opening never blocks and takes
// only a regular file, or a character device the user named on purpose
// (/dev/null, /dev/stderr): a FIFO without a reader would otherwise hang
// the program in open(), and a folder or socket takes no such output.
// Every write is checked; the first failure is kept, nothing more is
// written after it, and the run goes on, so that a full disk never stops an
// upgrade under way but is reported once the devices are done.

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

enum class OutputMode { Truncate, Append };

// Writes all `count` bytes to `fd`, again after an interruption. 0 when
// they were written, else the system's error number (ENOSPC for a full
// disk; EIO when write() took nothing and said no more).
int WriteFully(int fd, const void* bytes, std::size_t count);

// Opens `path` for writing as described above, creating a missing file.
// Returns the descriptor, or -1 with `reason` set to why not: the system's
// reason, or "it is a FIFO, not a regular file" and the like.
int OpenOutputDescriptor(const std::filesystem::path& path, OutputMode mode, std::string& reason);

// True when the two names are one file, or would be once it exists: one
// existing file by two names (links), or the same path once made absolute
// and normal, a symbolic link at the end followed even when it dangles
// (opening it for writing would create its target).
bool SameFileName(const std::filesystem::path& a, const std::filesystem::path& b);

// Why a file of this type (st_mode) cannot take an output; empty when it can.
std::string OutputTypeProblem(unsigned mode);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False with `reason` set when the file cannot be opened (see above).
    bool Open(const std::filesystem::path& path, OutputMode mode, std::string& reason);
    // Writes to a descriptor the program did not open and does not close (stdout).
    void Borrow(int descriptor);
    bool IsOpen() const { return fd_ >= 0; }

    // Writes all of `bytes`; false, and nothing written from then on, once a
    // write failed.
    bool Write(std::string_view bytes);
    bool Failed() const { return !failure_.empty(); }
    // The system's reason for the first failed write or close; empty when none.
    const std::string& Failure() const { return failure_; }
    // Closes an opened file (a borrowed descriptor stays open). False when
    // a write or the close failed.
    bool Close();

private:
    int fd_ = -1;
    bool owned_ = false;
    std::string failure_;
};

}  // namespace quorvane
