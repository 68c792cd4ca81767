// Pauses Python's cyclic garbage collector while a reader builds objects.
#pragma once

#include <Python.h>

namespace dral_python {

// Collection would only scan the containers being built, which cannot be garbage yet; pausing it
// for the call saves that work. No Python code runs meanwhile, so nothing can observe the pause;
// before the interpreter lock is released, `suspend` gives other threads the collector back.
class GcPause {
public:
    // No pause, and nothing to give back, unless `wanted`.
    explicit GcPause(bool wanted = true) : was_enabled_(wanted && PyGC_Disable()) {}
    ~GcPause() { suspend(); }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

    void suspend() {
        if (was_enabled_) PyGC_Enable();
    }
    void resume() {
        if (was_enabled_) PyGC_Disable();
    }

private:
    int was_enabled_;
};

}  // namespace dral_python
