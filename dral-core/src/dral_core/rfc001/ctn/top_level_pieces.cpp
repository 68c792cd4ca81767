#include "dral_core/rfc001/ctn/top_level_pieces.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dral_core/base/bit_count.hpp"
#include "dral_core/rfc001/ctn/text_scan.hpp"

namespace dral_core::rfc001::ctn {
namespace {

struct Depths {
    std::size_t parens = 0;
    std::size_t brackets = 0;
    std::size_t angles = 0;

    bool at_top() const { return (parens | brackets | angles) == 0; }
};

// Index of the double quote that closes the string opened at `open`, or the size of `text` when
// it stays open. A backslash makes the next character literal. A byte loop: the strings of a line
// are short, and find_first_of looks each byte up in its set with a call of its own.
std::size_t string_end(std::string_view text, std::size_t open) {
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return text.size();
}

// Steps over the character at `i`: a bracket is counted, and a string is skipped to its
// closing quote.
void follow(std::string_view text, std::size_t& i, Depths& depths) {
    switch (text[i]) {
        case '(':
            ++depths.parens;
            break;
        case ')':
            depths.parens -= depths.parens != 0;
            break;
        case '[':
            ++depths.brackets;
            break;
        case ']':
            depths.brackets -= depths.brackets != 0;
            break;
        case '<':
            ++depths.angles;
            break;
        case '>':
            depths.angles -= depths.angles != 0;
            break;
        case '"':
            i = string_end(text, i);
            break;
        default:
            break;
    }
}

#if defined(__SSE2__)
// Counts the brackets of one kind in a block: by population counts when the counter cannot reach
// zero there, else bracket by bracket.
void count_block(std::size_t& depth, unsigned opens, unsigned closes) {
    if (depth >= 16 || closes == 0) {
        depth = depth + count_bits_16(opens) - count_bits_16(closes);
        return;
    }
    for (unsigned marks = opens | closes; marks != 0; marks &= marks - 1) {
        if (opens & marks & (0u - marks)) {
            ++depth;
        } else {
            depth -= depth != 0;
        }
    }
}

// Takes the 16 bytes at `block` whole when they hold no string and no comma that could be at the
// top level; false leaves them to the character loop. Nested input is long runs of brackets, and
// this keeps its cost per level near a memory scan.
bool count_block(const char* block, Depths& depths) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    const auto marks = [&](char c) {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
    };
    if (marks('"') != 0) return false;
    // A counter of 16 or more cannot come back to zero within the block.
    if (marks(',') != 0 && depths.parens < 16 && depths.brackets < 16 && depths.angles < 16)
        return false;
    count_block(depths.parens, marks('('), marks(')'));
    count_block(depths.brackets, marks('['), marks(']'));
    count_block(depths.angles, marks('<'), marks('>'));
    return true;
}
#endif

}  // namespace

bool TopLevelPieces::next(std::string_view& piece) {
    if (done_) return false;
    const std::size_t size = text_.size();
    Depths depths;
    std::size_t i = pos_;
    while (i < size) {
#if defined(__SSE2__)
        if (size - i >= 16 && count_block(text_.data() + i, depths)) {
            i += 16;
            continue;
        }
#endif
        for (const std::size_t block_end = std::min(size, i + 16); i < block_end; ++i) {
            if (text_[i] == ',' && depths.at_top()) {
                piece = trim(text_.substr(pos_, i - pos_));
                pos_ = i + 1;
                return true;
            }
            follow(text_, i, depths);
        }
    }
    piece = trim(text_.substr(pos_));
    done_ = true;
    return true;
}

std::size_t find_entry_arrow(std::string_view text) {
    Depths depths;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 1 < text.size() && text[i + 1] == '>') {
            if (depths.at_top()) return i;
            ++i;  // an arrow's '>' closes no angle bracket
            continue;
        }
        follow(text, i, depths);
    }
    return text.find("=>");
}

std::vector<std::string_view> split_top_level(std::string_view text) {
    std::vector<std::string_view> pieces;
    TopLevelPieces splitter(text);
    std::string_view piece;
    while (splitter.next(piece)) pieces.push_back(piece);
    return pieces;
}

}  // namespace dral_core::rfc001::ctn
