// Placeholder until the formatter lands.
#include "rfc001/ctn/ctn.hpp"

namespace dral_core::rfc001::ctn {

std::string format_document(const Document&) { return {}; }
std::string format_value(const Value&) { return {}; }

}  // namespace dral_core::rfc001::ctn
