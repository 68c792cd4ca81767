// Placeholder until the document parser lands.
#include "rfc001/ctn/ctn.hpp"

namespace dral_core::rfc001::ctn {

Result<Document> parse_document(std::string_view) { return Document{}; }

}  // namespace dral_core::rfc001::ctn
