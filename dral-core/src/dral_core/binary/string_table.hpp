// The strings a data block's references point at. The first entries live inside the table, so
// decoding a small message allocates nothing for it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace dral_core {

class StringTable {
public:
    std::size_t size() const { return size_; }
    std::string_view operator[](std::size_t i) const {
        return i < kInline ? std::string_view(inline_[i].data, inline_[i].size)
                           : spilled_[i - kInline];
    }
    void push_back(std::string_view text) {
        if (size_ < kInline)
            inline_[size_] = {text.data(), text.size()};
        else
            spilled_.push_back(text);
        ++size_;
    }
    void clear() {
        size_ = 0;
        spilled_.clear();
    }
    void assign(const std::vector<std::string_view>& strings) {
        clear();
        for (std::string_view text : strings) push_back(text);
    }

private:
    static constexpr std::size_t kInline = 16;
    struct Text {  // trivial, unlike string_view, so the array costs nothing to set up
        const char* data;
        std::size_t size;
    };
    Text inline_[kInline];
    std::vector<std::string_view> spilled_;
    std::size_t size_ = 0;
};

}  // namespace dral_core
