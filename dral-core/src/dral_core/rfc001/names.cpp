#include "dral_core/rfc001/names.hpp"

#include <string>

#include "dral_core/rfc001/ctn/format.hpp"
#include "dral_core/rfc001/ctn/literals.hpp"
#include "dral_core/rfc001/ctn/text_scan.hpp"

namespace dral_core::rfc001 {
namespace {

using ctn::is_identifier;

bool is_type_text(std::string_view text, bool paths) {
    if (ctn::trim(text).size() != text.size()) return false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '"' || c == '=' || c == '[' || c == ']')
            return false;
    }
    return !ctn::contains(text, "--") && (paths || !ctn::contains(text, "::"));
}

bool is_word(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!ctn::is_identifier_char(c)) return false;
    return true;
}

// Words joined by "::".
bool is_word_path(std::string_view text) {
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find("::", start);
        if (!is_word(text.substr(start, end - start))) return false;
        if (end == std::string_view::npos) return true;
        start = end + 2;
    }
}

bool is_name(NameKind kind, std::string_view text) {
    switch (kind) {
        case NameKind::TypeName:
            return is_identifier(text) && text != "struct";
        case NameKind::SumTypeName:
            return is_word(text);
        case NameKind::Variant:
            return is_word_path(text);
        case NameKind::PayloadVariant:
            return text.empty() || is_word_path(text);
        case NameKind::ElementType:
            return is_type_text(text, true);
        case NameKind::ItemType:
        case NameKind::TypeTag:
            return is_type_text(text, false);
        default:
            return is_identifier(text);
    }
}

const char* what(NameKind kind) {
    switch (kind) {
        case NameKind::Field:
            return "field name";
        case NameKind::TypeName:
            return "type name";
        case NameKind::SumTypeName:
            return "enum type name";
        case NameKind::Variant:
        case NameKind::PayloadVariant:
            return "enum variant name";
        case NameKind::Symbol:
            return "symbol";
        case NameKind::Tag:
            return "tag";
        case NameKind::Annotation:
            return "annotation name";
        case NameKind::BindingName:
            return "reference name";
        case NameKind::ElementType:
            return "element type";
        case NameKind::ItemType:
            return "item type";
        case NameKind::TypeTag:
            return "type tag";
    }
    return "name";
}

[[gnu::cold, gnu::noinline]] DralError refusal(NameKind kind, std::string_view text) {
    // A name may be megabytes long and hold anything: the message shows its start, escaped.
    constexpr std::size_t kShown = 64;
    std::size_t shown = text.size() <= kShown ? text.size() : kShown;
    while (shown < text.size() && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80)
        --shown;  // not inside a character
    std::string detail = std::string("invalid ") + what(kind) + " '";
    ctn::append_escaped(detail, text.substr(0, shown));
    if (shown < text.size()) detail += "...";
    detail += '\'';
    return DralError::invalid_data(std::move(detail));
}

}  // namespace

Status check_name(NameKind kind, std::string_view text) {
    if (is_name(kind, text)) [[likely]]
        return {};
    return fail(refusal(kind, text));
}

}  // namespace dral_core::rfc001
