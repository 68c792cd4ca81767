// Work on bytes alone that takes long on large input: checksums, compression, decompression. It
// touches no state of the caller's, so a host may let its other threads run meanwhile (the
// Python binding releases the interpreter lock). The core hands such work over through this
// interface and never calls its host otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace dral_core {

class LongWork {
public:
    // Work on fewer bytes than this runs in place, without a call to the host.
    explicit LongWork(std::size_t min_bytes) : min_bytes_(min_bytes) {}

    template <class Work>
    void run(std::size_t bytes, Work&& work) {
        if (bytes < min_bytes_) {
            std::forward<Work>(work)();
            return;
        }
        run_aside([](void* context) { (*static_cast<Work*>(context))(); }, &work);
    }

protected:
    ~LongWork() = default;
    // Calls `work(context)`, which must not throw.
    virtual void run_aside(void (*work)(void*), void* context) = 0;

private:
    std::size_t min_bytes_;
};

// `work` through `host`, or in place without one.
template <class Work>
void run_long_work(LongWork* host, std::size_t bytes, Work&& work) {
    if (host == nullptr)
        std::forward<Work>(work)();
    else
        host->run(bytes, std::forward<Work>(work));
}

}  // namespace dral_core
