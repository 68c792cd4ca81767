// A file written block by block on a thread of its own, so that the next block is encoded while
// the last one goes to the file: the kernel's copy into the page cache costs about a quarter of
// the encoding time, which the caller's thread then no longer waits for.
#pragma once

#include <unistd.h>

#include <memory>

#include "dral_core/base/byte_buffer.hpp"
#include "dral_python/cpython/replace_file.hpp"

namespace dral_python {

// One block in flight at a time; a failed write fails every later call with its errno. A child
// forked meanwhile has no such thread, and may have the lock in the state the thread left it in:
// every call there fails with EBADF and touches neither. Runs no Python code: call it with the
// interpreter lock released.
class WriteBehind {
public:
    explicit WriteBehind(ReplacingFile& file);
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    // Waits for the block in flight.
    ~WriteBehind();

    // Waits for the block in flight, then starts writing `block`, taking its bytes: `block` is
    // left empty, with the storage of an earlier block to fill again. Returns the errno of a
    // failed write so far, or 0.
    int write(dral_core::ByteBuffer& block);
    // Waits for the block in flight; the errno of a failed write, or 0.
    int wait();

private:
    struct Flight;
    bool forked() const { return ::getpid() != owner_; }

    ReplacingFile& file_;
    const pid_t owner_;
    std::unique_ptr<Flight> flight_;  // made by the first block
};

}  // namespace dral_python
