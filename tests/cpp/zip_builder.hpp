// Writes ZIP archives in memory for tests, fuzz seeds and benchmarks: stored
// and deflated members, members compressed beforehand (deflate bombs), and
// directories that lie (a wrong CRC-32, a wrong size, an unsupported method,
// an encryption flag, a local header whose name runs past the archive).
// Members stay below 4 GiB: no ZIP64 records are written. Header-only; needs zlib.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace difrax::testing::zip {

inline constexpr std::uint16_t stored_method = 0;
inline constexpr std::uint16_t deflate_method = 8;

// A raw deflate stream (no zlib or gzip wrapper), as ZIP members hold it;
// `flush` ends the piece: Z_FINISH ends the stream, Z_FULL_FLUSH leaves it
// open and byte-aligned, with no reference to earlier data.
inline std::string deflate_raw(std::string_view data, int flush = Z_FINISH) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

inline std::uint32_t crc_of(std::string_view data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Content deflated beforehand, with the CRC-32 and size of what it inflates to.
struct Compressed {
    std::string data;
    std::uint32_t crc;
    std::uint64_t size;
};

// `count` zero bytes, deflated. A 1 MiB block is compressed once, ending in
// a full flush, so the same compressed block can simply be repeated; a final
// piece ends the stream. This keeps a 256 MiB member quick to make.
inline Compressed deflated_zeros(std::uint64_t count) {
    const std::string block(1u << 20, '\0');
    const std::string repeated = deflate_raw(block, Z_FULL_FLUSH);
    const uLong block_crc = crc_of(block);
    Compressed out{{}, 0, count};
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t left = count;
    for (; left >= block.size(); left -= block.size()) {
        out.data += repeated;
        crc = crc32_combine(crc, block_crc, static_cast<z_off_t>(block.size()));
    }
    std::string_view tail(block.data(), static_cast<std::size_t>(left));
    out.data += deflate_raw(tail);
    out.crc = static_cast<std::uint32_t>(crc32_combine(crc, crc_of(tail), static_cast<z_off_t>(tail.size())));
    return out;
}

// One member as it will be written. `data` is what the archive holds (already
// compressed for the deflate method); the directory declares `crc` and `size`
// for the uncompressed content, whether or not they are true.
struct Member {
    std::string name;
    std::string data;
    std::uint16_t method = stored_method;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint16_t flags = 0;
    // The name length written in the local header, when it should lie.
    std::optional<std::uint16_t> local_name_length;
};

class Builder {
public:
    Builder& stored(std::string name, std::string_view content) {
        return add({.name = std::move(name), .data = std::string(content), .crc = crc_of(content),
                    .size = content.size()});
    }
    Builder& deflated(std::string name, std::string_view content) {
        return add({.name = std::move(name), .data = deflate_raw(content), .method = deflate_method,
                    .crc = crc_of(content), .size = content.size()});
    }
    Builder& compressed(std::string name, Compressed content) {
        return add({.name = std::move(name), .data = std::move(content.data), .method = deflate_method,
                    .crc = content.crc, .size = content.size});
    }

    // The member added last, to make it lie.
    Member& last() { return members_.back(); }

    std::string bytes() const {
        std::string out, directory;
        for (const Member& m : members_) {
            const std::size_t offset = out.size();
            put(out, 0x04034b50u, 4);
            put_common(out, m, m.local_name_length.value_or(m.name.size()));
            out += m.name + m.data;

            put(directory, 0x02014b50u, 4);
            put(directory, 20, 2);  // made by: MS-DOS, version 2.0
            put_common(directory, m, m.name.size());
            put(directory, 0, 10);  // comment length, disk number, internal and external attributes
            put(directory, offset, 4);
            directory += m.name;
        }
        const std::size_t directory_offset = out.size();
        out += directory;
        put(out, 0x06054b50u, 4);
        put(out, 0, 4);  // this disk, and the disk where the directory starts
        put(out, members_.size(), 2);  // entries on this disk
        put(out, members_.size(), 2);  // entries in all
        put(out, directory.size(), 4);
        put(out, directory_offset, 4);
        put(out, 0, 2);  // comment length
        return out;
    }

private:
    Builder& add(Member m) {
        members_.push_back(std::move(m));
        return *this;
    }

    // `v` as `width` little-endian bytes.
    static void put(std::string& out, std::uint64_t v, int width) {
        for (int k = 0; k < width; ++k, v >>= 8) out.push_back(static_cast<char>(v & 0xFF));
    }

    // The fields that local and central headers share, from "version needed"
    // to "extra field length".
    static void put_common(std::string& out, const Member& m, std::size_t name_length) {
        put(out, 20, 2);  // version needed: 2.0
        put(out, m.flags, 2);
        put(out, m.method, 2);
        put(out, 0, 2);             // time
        put(out, (1 << 5) | 1, 2);  // date: 1980-01-01
        put(out, m.crc, 4);
        put(out, m.data.size(), 4);
        put(out, m.size, 4);
        put(out, name_length, 2);
        put(out, 0, 2);  // no extra field
    }

    std::vector<Member> members_;
};

}  // namespace difrax::testing::zip
