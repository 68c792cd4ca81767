// Where a value lies in the object being converted, as error messages give it: `$` for the root,
// then `.name` (or `["any text"]`) for each dict key or field and `[i]` for each item.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dral_python {

void append_index(std::string& path, std::size_t index);
void append_key(std::string& path, std::string_view key);

}  // namespace dral_python
