#include "dral_core/rfc001/query_text.hpp"

#include "dral_core/rfc001/cbf/query.hpp"
#include "dral_core/rfc001/ctn/ctn.hpp"

namespace dral_core::rfc001 {

Result<std::vector<Value>> query_text(std::string_view text, std::string_view expression,
                                      const cbf::EncodeOptions& options, MemoryMeter& meter) {
    DRAL_ASSIGN_OR_RETURN(auto document, ctn::parse_document(text, meter));
    DRAL_ASSIGN_OR_RETURN(auto compiled, cbf::encode_document(document, options, meter));
    return cbf::query_document(compiled, expression, meter);
}

}  // namespace dral_core::rfc001
