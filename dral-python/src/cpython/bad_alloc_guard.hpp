// The boundary where a C++ allocation failure becomes Python's MemoryError.
#pragma once

#include <Python.h>

#include <new>
#include <stdexcept>
#include <type_traits>

namespace dral_python {

// Runs `body`, which returns a new reference (nullptr with an exception set) or a status int (-1
// with an exception set); a std::bad_alloc escaping it becomes MemoryError instead of unwinding
// into the interpreter, which would abort the process. So does a std::length_error, a request
// for more elements than a container can ever hold: the readers size nothing from declared
// counts, and the fuzzers hold them to it, but should one slip, the caller gets an exception.
template <class Body>
auto guard_bad_alloc(Body body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    PyErr_NoMemory();
    if constexpr (std::is_pointer_v<decltype(body())>)
        return nullptr;
    else
        return -1;
}

template <auto kFunction>
struct Guarded;

template <class Result, class... Args, Result (*kFunction)(Args...)>
struct Guarded<kFunction> {
    static Result call(Args... args) noexcept {
        return guard_bad_alloc([&] { return kFunction(args...); });
    }
};

// `kFunction` behind guard_bad_alloc, for the tables of functions, methods and slots that the
// interpreter calls: every entry point is registered through it.
template <auto kFunction>
inline constexpr auto guarded = &Guarded<kFunction>::call;

}  // namespace dral_python
