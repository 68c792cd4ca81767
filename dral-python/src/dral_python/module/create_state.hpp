// Makes the module state, filled by every subsystem that keeps objects in it.
#pragma once

namespace dral_python {

// Makes the state at the first initialisation; later ones find it made. -1 with an exception set.
int create_module_state();

}  // namespace dral_python
