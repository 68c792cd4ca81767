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

// Every guarded entry point records itself, when the extension is loaded, in one list, so that a
// walk of the module can tell a guarded one from any other (is_guarded). The list is complete
// before the module's initialisation and never changes after.
struct GuardedEntry {
    explicit GuardedEntry(const void* entry) : function(entry), next(first) { first = this; }
    const void* function;
    const GuardedEntry* next;
    static inline constinit const GuardedEntry* first = nullptr;
};

template <class Result, class... Args, Result (*kFunction)(Args...)>
struct Guarded<kFunction> {
    static Result call(Args... args) noexcept {
        static_cast<void>(&record);  // makes the record, at no cost to the call
        return guard_bad_alloc([&] { return kFunction(args...); });
    }
    static inline const GuardedEntry record{reinterpret_cast<const void*>(&call)};
};

// `kFunction` behind guard_bad_alloc, for the tables of functions, methods and slots that the
// interpreter calls: every entry point is registered through it.
template <auto kFunction>
inline constexpr auto guarded = &Guarded<kFunction>::call;

// Whether the code at `function` is one made by `guarded`.
bool is_guarded(const void* function);

}  // namespace dral_python
