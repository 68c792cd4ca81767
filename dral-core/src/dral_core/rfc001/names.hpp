// Which texts may be names of a document. The CTN formatter writes names as they are, so a name
// that holds what the notation reads as structure (a line break, "=", a comment, a bracket)
// would read back as a different document. The CTN reader and the CBF decoder both take a name
// only when it passes here, and the formatter can then write every name they take.
#pragma once

#include <string_view>

#include "dral_core/base/error.hpp"

namespace dral_core::rfc001 {

enum class NameKind {
    Field,           // of a product or a struct payload
    TypeName,        // of a product: an identifier other than "struct"
    SumTypeName,     // a word
    Variant,         // of a sum without a payload: words joined by "::"
    PayloadVariant,  // of a sum with a payload: the same, or empty
    Symbol,
    Tag,          // of a tagged string
    Annotation,   // of a stream or tensor annotation
    BindingName,  // the name a reference refers to
    ElementType,  // of a sequence or tensor
    ItemType,     // of a stream
    TypeTag,      // of an opaque value
};

// Fails with "invalid {what} '{name}'" (the name escaped and cut short) when `text` may not be
// a name of that kind. Field, type, symbol, tag, annotation and binding names are identifiers.
// A sum's type name and variant are written in front of or after " :: " in a sum's one text,
// so they may also be words (identifier characters, a digit first included); a variant may be
// empty where a payload follows it. An element type is free text on a header line of its own:
// no control characters, double quotes, "=", square brackets or "--", and no white space at
// either end. Stream item types and opaque type tags, which the formatter may have to write
// inside a one-line form, where "::" would make them read as a sum, hold no "::" either.
Status check_name(NameKind kind, std::string_view text);

}  // namespace dral_core::rfc001
