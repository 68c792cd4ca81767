// The core's long byte work (checksums, compression and decompression of large blocks) with the
// interpreter lock released, so that other Python threads run meanwhile: no peer does this, and
// it is the point of doing the heavy work natively.
#pragma once

#include <Python.h>

#include <exception>

#include "dral_core/base/long_work.hpp"
#include "dral_python/cpython/gc_pause.hpp"

namespace dral_python {

// Below this, taking the lock back (which waits for the thread that holds it meanwhile) would
// cost more than the work lets others run.
inline constexpr std::size_t kReleaseLockFrom = std::size_t{1} << 20;

class LockReleasingWork final : public dral_core::LongWork {
public:
    // A reader that paused the collector hands its pause over: other threads run with it on.
    explicit LockReleasingWork(GcPause* pause = nullptr)
        : LongWork(kReleaseLockFrom), pause_(pause) {}
    void set_pause(GcPause* pause) { pause_ = pause; }

private:
    void run_aside(void (*work)(void*), void* context) override {
        if (pause_ != nullptr) pause_->suspend();
        std::exception_ptr failure;
        Py_BEGIN_ALLOW_THREADS try { work(context); } catch (...) {
            failure = std::current_exception();  // rethrown once the lock is held again
        }
        Py_END_ALLOW_THREADS if (pause_ != nullptr) pause_->resume();
        if (failure) std::rethrow_exception(failure);
    }

    GcPause* pause_;
};

}  // namespace dral_python
