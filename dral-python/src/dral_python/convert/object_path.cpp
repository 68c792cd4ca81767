#include "dral_python/convert/object_path.hpp"

#include <cstdio>

namespace dral_python {
namespace {

bool is_name(std::string_view key) {
    auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (key.empty() || !letter(key[0])) return false;
    for (char c : key)
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

// Keys are cut to this many bytes (on a character boundary), so that a message stays readable.
constexpr std::size_t kLongestKey = 40;

}  // namespace

void append_index(std::string& path, std::size_t index) {
    path.append("[").append(std::to_string(index)).append("]");
}

void append_key(std::string& path, std::string_view key) {
    if (is_name(key) && key.size() <= kLongestKey) {
        path.append(".").append(key);
        return;
    }
    bool cut = key.size() > kLongestKey;
    if (cut) {
        std::size_t end = kLongestKey;
        while (end > 0 && (static_cast<unsigned char>(key[end]) & 0xC0) == 0x80) --end;
        key = key.substr(0, end);
    }
    path.append("[\"");
    for (char c : key) {
        if (c == '"' || c == '\\') {
            path.push_back('\\');
            path.push_back(c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            path.append(escaped);
        } else {
            path.push_back(c);
        }
    }
    path.append(cut ? "...\"]" : "\"]");
}

}  // namespace dral_python
