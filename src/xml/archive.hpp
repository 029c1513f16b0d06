// Members of a ZIP container held in memory (BRML and RASX files), read one at
// a time and never past 256 MiB.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "difrax/difrax.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {

// The most that is ever read from one member: 256 MiB plus one byte.
inline constexpr std::size_t member_cap = 256u * 1024u * 1024u + 1u;

class Archive {
public:
    // Opens the bytes in place (no copy); a failure is a Zip error.
    static Result<Archive> open(std::span<const std::byte> data);

    // Member names as stored, in central-directory order.
    std::vector<std::string> names() const;

    // The decompressed content of the member with exactly this name:
    // FileNotFoundInArchive when there is none, Zip when it cannot be opened,
    // Io for read failures and CRC mismatches, Parse past 256 MiB.
    Result<std::vector<std::byte>> member(std::string_view name) const;

    // Same, stopping at `cap` bytes instead (tests of the limit use a small one).
    Result<std::vector<std::byte>> member(std::string_view name, std::size_t cap) const;

private:
    struct Handle;
    explicit Archive(std::shared_ptr<Handle> handle, std::size_t input_size)
        : handle_(std::move(handle)), input_size_(input_size) {}
    std::shared_ptr<Handle> handle_;
    std::size_t input_size_;
};

// A member's XML document; the member's bytes are released once the tree is
// built, so only one member is ever held at a time.
Result<Element> member_document(const Archive& archive, std::string_view name);
// Same, with the elements named `gather` kept out of the tree (see document()).
Result<Document> member_document(const Archive& archive, std::string_view name, std::string_view gather);

}  // namespace difrax::xml
