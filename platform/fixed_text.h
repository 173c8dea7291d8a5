// A text held in a fixed buffer of N UTF-16 units, terminator included, as
// the launcher's path and command-line buffers are. A text that does not fit
// is refused whole, never cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvn {

template <std::size_t N>
class FixedText {
public:
    static constexpr std::size_t kCapacity = N - 1;  // characters

    // Stores the text when it fits; otherwise leaves the buffer as it was.
    bool assign(std::u16string_view text) {
        if (text.size() > kCapacity) return false;
        text_.assign(text);
        return true;
    }
    // Ends the text at a position (writing the terminator there).
    void truncate(std::size_t length) {
        if (length < text_.size()) text_.resize(length);
    }
    const std::u16string& str() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    std::u16string text_;
};

}  // namespace kvn
