// Bytes to text: UTF-16 announced by a byte-order mark, otherwise lenient UTF-8
// with an optional byte-order mark. Every reader that reads text decodes its
// input with this one function, so all of them see the same text.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "difrax/difrax.hpp"

namespace difrax {

// Decoded text: a view into the input when it was valid UTF-8, otherwise an
// owned conversion. Always valid UTF-8.
class Text {
public:
    static Text borrowed(std::string_view view) { return Text(view); }
    static Text owned(std::string text) { return Text(std::move(text)); }

    std::string_view view() const noexcept { return is_owned_ ? std::string_view(owned_) : borrowed_; }
    bool is_owned() const noexcept { return is_owned_; }

private:
    explicit Text(std::string_view view) : borrowed_(view), is_owned_(false) {}
    explicit Text(std::string text) : owned_(std::move(text)), is_owned_(true) {}
    std::string owned_;
    std::string_view borrowed_;
    bool is_owned_;
};

Result<Text> decode(std::span<const std::byte> bytes);

// Views the bytes as characters, without decoding.
inline std::string_view as_chars(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}
inline std::span<const std::byte> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

}  // namespace difrax
