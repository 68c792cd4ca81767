// What the conversion knows of classes beyond the builtin types: the standard library's classes
// it converts and what it learnt of each class it met, found and cached (in the module state).
#pragma once

#include <Python.h>

#include "dral_python/runtime/conversion_caches.hpp"

namespace dral_python {

// Null with an exception set if the names could not be made.
const AttributeNames* attribute_names();

// The classes found so far, after looking again for those not found yet.
const KnownClasses& known_classes();
// The classes found so far, without looking again: enough for objects already classified.
const KnownClasses& found_classes();

// The rules for `type`, worked out on first sight and cached; false with an exception set when
// working them out failed. Cached classes stay alive for the life of the process (at most a few
// hundred of them; past that, each new one is worked out again whenever it is met).
bool rules_for(PyTypeObject* type, ClassRules& out);

// The cached rules for `type`, or null when it was never cached (not met yet, or met once the
// cache was full). Cached rules never change, so the pointer stays valid.
const ClassRules* cached_rules(PyTypeObject* type);

}  // namespace dral_python
