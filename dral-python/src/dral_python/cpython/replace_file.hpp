// Writing a whole file so that it is either the old one or the new one, never a part of either.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace dral_python {

// Writes `data` to a new file beside `path` and renames it over `path` once it is complete and
// on disk: a full disk, a file-size limit or a crash leaves the old file as it was, and every
// failure the process lives through removes the new one. A new file gets the permissions of any
// new file (the umask applies); an existing one keeps its permission bits, and is refused, as
// opening it for writing would refuse it, when it is not writable. A target that exists but is
// not a regular file (a device, a pipe) is written in place. Symbolic links are followed, so the
// link stays a link. Runs no Python code: call it with the interpreter lock released. Returns 0,
// or the errno of the failure.
int replace_file(const std::string& path, std::span<const std::uint8_t> data);

// The same for a file written a piece at a time: every call returns 0 or the errno of its
// failure, after which the new file is gone. A file neither committed nor abandoned is abandoned
// when this goes. In a child forked meanwhile, writing and committing fail with EBADF and
// abandoning only closes the descriptor: the new file is the parent's to write. Runs no Python
// code.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile() { abandon(); }

    int open(const std::string& path);
    int write(std::span<const std::uint8_t> data);
    // Has the disk start writing what was written since the last call, so that the sync of
    // `commit` finds little left; what is more than 64 MiB behind is waited for and
    // dropped from the page cache, so that the writer never runs far ahead of the disk. Advice
    // only; a failure shows at that sync.
    void write_back();
    // Complete: on disk, then under the target's name.
    int commit();
    // Given up: the target is as it was.
    void abandon();

private:
    int fd_ = -1;
    pid_t owner_ = -1;       // the process that opened it
    std::string temporary_;  // empty when the target is written in place
    std::string target_;
    off_t written_ = 0;          // bytes written so far
    off_t writeback_start_ = 0;  // the first byte not yet handed to the disk
    off_t uncached_end_ = 0;     // the bytes before it are on disk and out of the page cache
};

}  // namespace dral_python
