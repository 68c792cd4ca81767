#include "dral_python/module/create_state.hpp"

#include <new>

#include "dral_python/convert/py_dict.hpp"
#include "dral_python/rfc/typed_dict.hpp"
#include "dral_python/runtime/hash_seed.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

int create_module_state() {
    if (module_state_storage::made) return 0;
    // A failed attempt leaves its objects to the next import's attempt, which starts afresh.
    ModuleState& state = *new (&module_state_storage::storage.state) ModuleState();
    state.hash_seed = random_hash_seed();
    if (!create_exception_classes(state.errors) || !create_typed_dict_strings(state.typed_dict) ||
        verify_dict_tables() < 0)
        return -1;
    module_state_storage::made = true;
    return 0;
}

}  // namespace dral_python
