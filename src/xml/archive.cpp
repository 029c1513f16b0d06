#include "xml/archive.hpp"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

#include "error/fail.hpp"

namespace difrax::xml {

struct Archive::Handle {
    zip_t* zip = nullptr;
    ~Handle() {
        if (zip) zip_discard(zip);
    }
};

namespace {

// libzip's description of an error; the text belongs to the error, so it is
// copied before the error goes away.
std::string describe(zip_error_t* error) { return zip_error_strerror(error); }

// How the member's buffer grows. Pages are touched only as data arrives, so
// a reservation costs address space, not memory; what costs memory is the
// copy when the buffer moves, old and new held at once. Growing straight to
// the cap once the buffer is larger than a quarter of it means that a buffer
// that moves is never larger than half the cap, so no member ever needs much
// more than the cap in memory, whatever its directory entry declares.
std::size_t grown(std::size_t capacity, std::size_t cap) {
    if (capacity > cap / 4) return cap;
    return std::max<std::size_t>(capacity * 2, 64 * 1024);
}

// The directory's size, believed only as far as this input could inflate to
// (deflate expands by at most about 1032 to 1); one byte more leaves room for
// the read that meets the member's end and checks its CRC-32. A member said
// to be larger than a quarter of the cap gets the whole cap at once, so that
// its buffer never moves.
std::size_t first_reservation(zip_t* zip, zip_uint64_t at, std::size_t input_size, std::size_t cap) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip, at, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) return 0;
    const std::uint64_t plausible = static_cast<std::uint64_t>(input_size) * 1032u + 4096u;
    const std::uint64_t declared = std::min<std::uint64_t>({stat.size, plausible, cap - 1}) + 1;
    return declared > cap / 4 ? cap : static_cast<std::size_t>(declared);
}

// The first entry, in directory order, whose stored name is exactly `name`,
// byte for byte. libzip's own lookup compares against names converted from
// CP437 when they are not UTF-8, so it would miss a raw name such names()
// reports; the directory is therefore walked here.
std::optional<zip_uint64_t> locate(zip_t* zip, std::string_view name) {
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* stored = zip_get_name(zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (stored && name == stored) return static_cast<zip_uint64_t>(i);
    }
    return std::nullopt;
}

// libzip looks for the end-of-central-directory record in the archive's last
// 65,577 bytes (the record, its longest comment and a ZIP64 locator) and
// weighs every candidate it finds by reading the whole central directory and
// every local header: a tail that repeats the record thousands of times takes
// minutes to open. An archive has one such record; a comment or stored data
// may hold its signature by chance, but hardly ever more than a few times.
constexpr std::size_t end_record_search = 65535 + 22 + 20;
constexpr std::size_t most_end_records = 8;

bool too_many_end_records(std::span<const std::byte> data) {
    constexpr std::string_view signature = "PK\x05\x06";
    const std::size_t from = data.size() > end_record_search ? data.size() - end_record_search : 0;
    const std::string_view tail(reinterpret_cast<const char*>(data.data()) + from, data.size() - from);
    std::size_t found = 0;
    for (std::size_t at = tail.find(signature); at != std::string_view::npos; at = tail.find(signature, at + 1))
        if (++found > most_end_records) return true;
    return false;
}

}  // namespace

Result<Archive> Archive::open(std::span<const std::byte> data) {
    zip_error_t error;
    if (too_many_end_records(data)) {
        zip_error_init_with_code(&error, ZIP_ER_INCONS);
        std::string text = describe(&error);
        zip_error_fini(&error);
        return std::unexpected(Error::zip(std::move(text)));
    }
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data.data(), data.size(), 0, &error);
    if (!source) {
        std::string text = describe(&error);
        zip_error_fini(&error);
        return std::unexpected(Error::zip(std::move(text)));
    }
    zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!zip) {
        std::string text = describe(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        return std::unexpected(Error::zip(std::move(text)));
    }
    zip_error_fini(&error);
    auto handle = std::make_shared<Handle>();
    handle->zip = zip;
    return Archive(std::move(handle), data.size());
}

std::vector<std::string> Archive::names() const {
    std::vector<std::string> out;
    zip_int64_t count = zip_get_num_entries(handle_->zip, 0);
    out.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(handle_->zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        out.emplace_back(name ? name : "");
    }
    return out;
}

Result<std::vector<std::byte>> Archive::member(std::string_view name) const { return member(name, member_cap); }

Result<std::vector<std::byte>> Archive::member(std::string_view name, std::size_t cap) const {
    zip_t* zip = handle_->zip;
    std::optional<zip_uint64_t> found = locate(zip, name);
    if (!found) return std::unexpected(Error::file_not_found_in_archive(std::string(name)));
    const zip_uint64_t entry = *found;
    const std::size_t reservation = first_reservation(zip, entry, input_size_, cap);

    zip_file_t* file = zip_fopen_index(zip, entry, 0);
    if (!file) return std::unexpected(Error::zip(describe(zip_get_error(zip))));

    // Only what decompression actually yields counts against the cap.
    constexpr std::size_t chunk = 64 * 1024;
    std::vector<std::byte> out;
    out.reserve(reservation);
    while (out.size() < cap) {
        if (out.size() == out.capacity()) out.reserve(grown(out.capacity(), cap));
        const std::size_t old = out.size();
        const std::size_t want = std::min({chunk, out.capacity() - old, cap - old});
        out.resize(old + want);
        zip_int64_t got = zip_fread(file, out.data() + old, want);
        if (got < 0) {
            // libzip reads a member's local header at the first read, not when
            // the member is opened: a header whose offset or field lengths lead
            // outside the archive fails there as an invalid argument, and is a
            // member that cannot be opened. Damaged data (checksum, deflate
            // stream, data cut short) has codes of its own.
            zip_error_t* fault = zip_file_get_error(file);
            const bool header = zip_error_code_zip(fault) == ZIP_ER_INVAL;
            std::string text = describe(fault);
            zip_fclose(file);
            return std::unexpected(header ? Error::zip(std::move(text)) : Error::io(std::move(text)));
        }
        out.resize(old + static_cast<std::size_t>(got));
        // A short read need not be the end: only an empty one is, and it is
        // the read at which libzip compares the CRC-32.
        if (got == 0) break;
    }
    zip_fclose(file);
    if (out.size() >= cap) return parse_error("archive pattern member exceeds 256 MiB");
    return out;
}

Result<Element> member_document(const Archive& archive, std::string_view name) {
    auto bytes = archive.member(name);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return document(*bytes);
}

Result<Document> member_document(const Archive& archive, std::string_view name, std::string_view gather) {
    auto bytes = archive.member(name);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return document(*bytes, gather);
}

}  // namespace difrax::xml
