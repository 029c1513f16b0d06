#include "xml/archive.hpp"

#include <zip.h>

#include <algorithm>
#include <cstdint>

#include "error/fail.hpp"

namespace difrax::xml {

struct Archive::Handle {
    zip_t* zip = nullptr;
    ~Handle() {
        if (zip) zip_discard(zip);
    }
};

Result<Archive> Archive::open(std::span<const std::byte> data) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data.data(), data.size(), 0, &error);
    if (!source) {
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        return std::unexpected(Error::zip(std::move(text)));
    }
    zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!zip) {
        std::string text = zip_error_strerror(&error);
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
    std::string wanted(name);
    // A name with a NUL byte cannot be stored in the directory.
    if (wanted.find('\0') != std::string::npos) return std::unexpected(Error::file_not_found_in_archive(wanted));
    zip_int64_t index = zip_name_locate(zip, wanted.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) return std::unexpected(Error::file_not_found_in_archive(std::move(wanted)));

    zip_stat_t stat;
    zip_stat_init(&stat);
    std::size_t hint = 0;
    if (zip_stat_index(zip, static_cast<zip_uint64_t>(index), 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
        // The directory's size is only a hint for the first reservation, and
        // a lying directory must not make us reserve more than deflate could
        // produce from this input.
        std::uint64_t plausible = static_cast<std::uint64_t>(input_size_) * 1032u + 4096u;
        hint = static_cast<std::size_t>(std::min<std::uint64_t>({stat.size, plausible, cap}));
    }

    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
    if (!file) return std::unexpected(Error::zip(zip_error_strerror(zip_get_error(zip))));

    std::vector<std::byte> out;
    out.reserve(hint);
    constexpr std::size_t chunk = 64 * 1024;
    while (out.size() < cap) {
        std::size_t want = std::min(chunk, cap - out.size());
        std::size_t old = out.size();
        out.resize(old + want);
        zip_int64_t got = zip_fread(file, out.data() + old, want);
        if (got < 0) {
            std::string text = zip_error_strerror(zip_file_get_error(file));
            zip_fclose(file);
            return std::unexpected(Error::io(std::move(text)));
        }
        out.resize(old + static_cast<std::size_t>(got));
        if (got == 0) break;
    }
    zip_fclose(file);
    if (out.size() >= cap) return parse_error("archive pattern member exceeds 256 MiB");
    return out;
}

}  // namespace difrax::xml
