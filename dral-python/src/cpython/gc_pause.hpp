// Pauses Python's cyclic garbage collector while a reader builds objects.
#pragma once

#include <Python.h>

namespace dral_python {

// Collection would only scan the containers being built, which cannot be garbage yet; pausing it
// for the call saves that work. No Python code runs meanwhile, so nothing can observe the pause.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable()) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    int was_enabled_;
};

}  // namespace dral_python
