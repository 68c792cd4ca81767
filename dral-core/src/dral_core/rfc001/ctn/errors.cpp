#include "dral_core/rfc001/ctn/errors.hpp"

#include <utility>

#include "dral_core/rfc001/ctn/text_scan.hpp"

namespace dral_core::rfc001::ctn {

DralError data_error(std::string detail) { return DralError::invalid_data(std::move(detail)); }

DralError data_error(std::string_view before, std::string_view quoted, std::string_view after) {
    return DralError::invalid_data(concat(before, quoted, after));
}

DralError line_error(std::string message, std::uint64_t line) {
    return DralError::text_parse(std::move(message), line, 1);
}

DralError separator_error(std::string_view separator, std::string_view text, std::uint64_t line) {
    std::string message = concat("expected separator '", separator, "' in '");
    message.append(text).append("'");
    return line_error(std::move(message), line);
}

}  // namespace dral_core::rfc001::ctn
