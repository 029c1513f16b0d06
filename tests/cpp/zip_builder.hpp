// Writes ZIP archives in memory for tests, fuzz seeds and benchmarks: stored
// and deflated members, members compressed beforehand (deflate bombs), and
// directories that lie (a wrong CRC-32, a wrong size, an unsupported method,
// an encryption flag, a local header that points past the archive). Header-only; needs zlib.
#pragma once

#include <zlib.h>

#include <algorithm>
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
inline std::string deflate_piece(std::string_view data, int flush = Z_FINISH) {
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

inline std::string deflate_raw(std::string_view data) { return deflate_piece(data); }

inline std::uint32_t crc_of(std::string_view data) {
    uLong crc = crc32(0, nullptr, 0);
    while (!data.empty()) {
        auto n = static_cast<uInt>(std::min<std::size_t>(data.size(), 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), n);
        data.remove_prefix(n);
    }
    return static_cast<std::uint32_t>(crc);
}

// `count` zero bytes, deflated, with their CRC-32. A 1 MiB block is
// compressed once, ending in a full flush (byte-aligned, no reference to
// earlier data), so the same compressed block can simply be repeated; a final
// piece ends the stream. This keeps a 256 MiB member quick to make.
struct Compressed {
    std::string data;
    std::uint32_t crc;
    std::uint64_t size;
};


inline Compressed deflated_zeros(std::uint64_t count) {
    const std::string block(1u << 20, '\0');
    const std::string repeated = deflate_piece(block, Z_FULL_FLUSH);
    const uLong block_crc = crc_of(block);
    Compressed out{{}, 0, count};
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t left = count;
    for (; left >= block.size(); left -= block.size()) {
        out.data += repeated;
        crc = crc32_combine(crc, block_crc, static_cast<z_off_t>(block.size()));
    }
    std::string_view tail(block.data(), static_cast<std::size_t>(left));
    out.data += deflate_piece(tail, Z_FINISH);
    out.crc = static_cast<std::uint32_t>(crc32_combine(crc, crc_of(tail), static_cast<z_off_t>(tail.size())));
    return out;
}

// One member as it will be written. `data` is what the archive holds (already
// compressed for the deflate method); the directory declares `crc` and `size`
// for the uncompressed content, whether or not they are true. A size of
// 0xFFFFFFFF or more is written in a ZIP64 extra field, as the format wants.
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
    Builder& stored(std::string name, std::string content) {
        Member m{.name = std::move(name), .crc = crc_of(content), .size = content.size()};
        m.data = std::move(content);
        members_.push_back(std::move(m));
        return *this;
    }

    Builder& deflated(std::string name, std::string_view content) {
        members_.push_back(Member{.name = std::move(name),
                                  .data = deflate_raw(content),
                                  .method = deflate_method,
                                  .crc = crc_of(content),
                                  .size = content.size()});
        return *this;
    }

    Builder& compressed(std::string name, Compressed content) {
        members_.push_back(Member{.name = std::move(name),
                                  .data = std::move(content.data),
                                  .method = deflate_method,
                                  .crc = content.crc,
                                  .size = content.size});
        return *this;
    }

    // The member added last, to make it lie.
    Member& last() { return members_.back(); }

    std::string bytes() const {
        std::string out;
        std::string directory;
        for (const Member& m : members_) {
            auto offset = static_cast<std::uint32_t>(out.size());
            put32(out, 0x04034b50u);
            put_common(out, m);
            if (m.local_name_length) {
                out[out.size() - 4] = static_cast<char>(*m.local_name_length & 0xFF);
                out[out.size() - 3] = static_cast<char>(*m.local_name_length >> 8);
            }
            out += m.name;
            put_extra(out, m);
            out += m.data;

            put32(directory, 0x02014b50u);
            put16(directory, 20);  // made by: MS-DOS, version 2.0
            put_common(directory, m);
            put16(directory, 0);  // comment length
            put16(directory, 0);  // disk number
            put16(directory, 0);  // internal attributes
            put32(directory, 0);  // external attributes
            put32(directory, offset);
            directory += m.name;
            put_extra(directory, m);
        }
        auto directory_offset = static_cast<std::uint32_t>(out.size());
        out += directory;
        put32(out, 0x06054b50u);
        put16(out, 0);
        put16(out, 0);
        put16(out, static_cast<std::uint16_t>(members_.size()));
        put16(out, static_cast<std::uint16_t>(members_.size()));
        put32(out, static_cast<std::uint32_t>(directory.size()));
        put32(out, directory_offset);
        put16(out, 0);
        return out;
    }

private:
    static void put16(std::string& out, std::uint16_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>(v >> 8));
    }
    static void put32(std::string& out, std::uint32_t v) {
        put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
        put16(out, static_cast<std::uint16_t>(v >> 16));
    }
    static bool zip64(const Member& m) { return m.size >= 0xFFFFFFFFu; }

    // The fields that local and central headers share, from "version needed"
    // to "extra field length"; the extra field itself follows the name.
    static void put_common(std::string& out, const Member& m) {
        put16(out, zip64(m) ? 45 : 20);
        put16(out, m.flags);
        put16(out, m.method);
        put16(out, 0);             // time
        put16(out, (1 << 5) | 1);  // date: 1980-01-01
        put32(out, m.crc);
        put32(out, zip64(m) ? 0xFFFFFFFFu : static_cast<std::uint32_t>(m.data.size()));
        put32(out, zip64(m) ? 0xFFFFFFFFu : static_cast<std::uint32_t>(m.size));
        put16(out, static_cast<std::uint16_t>(m.name.size()));
        put16(out, zip64(m) ? 20 : 0);
    }

    // Both sizes in full, for the local and the central header alike.
    static void put_extra(std::string& out, const Member& m) {
        if (!zip64(m)) return;
        put16(out, 0x0001);
        put16(out, 16);
        put32(out, static_cast<std::uint32_t>(m.size));
        put32(out, static_cast<std::uint32_t>(m.size >> 32));
        put32(out, static_cast<std::uint32_t>(m.data.size()));
        put32(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(m.data.size()) >> 32));
    }

    std::vector<Member> members_;
};

}  // namespace difrax::testing::zip
