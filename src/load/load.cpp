#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "difrax/difrax.hpp"
#include "error/fail.hpp"
#include "parser/parse.hpp"

namespace difrax {
namespace {

std::unexpected<Error> os_error(int code) {
    return std::unexpected(Error::io(std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"));
}

// The whole file in one buffer, or the system's error. The buffer is not
// cleared before reading: every byte handed on was written by read().
struct FileBytes {
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
    std::span<const std::byte> bytes() const { return {data.get(), size}; }
};

Result<FileBytes> read_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return std::unexpected(Error::io("file name contained an unexpected NUL byte"));
    std::string name(path);
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return os_error(errno);

    // Room for a regular file's size and one byte more, so that its end is
    // seen without regrowth; other files (pipes, devices) grow as they come.
    std::size_t capacity = 8192;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        capacity = static_cast<std::size_t>(st.st_size) + 1;
    FileBytes file{std::unique_ptr<std::byte[]>(new std::byte[capacity]), 0};
    for (;;) {
        if (file.size == capacity) {
            capacity *= 2;
            auto larger = std::unique_ptr<std::byte[]>(new std::byte[capacity]);
            std::memcpy(larger.get(), file.data.get(), file.size);
            file.data = std::move(larger);
        }
        ssize_t got = ::read(fd, file.data.get() + file.size, capacity - file.size);
        if (got < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return os_error(code);
        }
        if (got == 0) break;
        file.size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return file;
}

// A strictly decreasing axis is turned round with its intensities.
void orient(std::vector<double>& x, std::vector<double>& y) {
    if (x.size() < 2) return;
    for (std::size_t i = 0; i + 1 < x.size(); ++i)
        if (!(x[i] > x[i + 1])) return;
    std::reverse(x.begin(), x.end());
    std::reverse(y.begin(), y.end());
}

Result<Pattern> finish(Result<Points> points) {
    if (!points) return std::unexpected(std::move(points.error()));
    orient(points->x, points->y);
    return Pattern::create(std::move(points->x), std::move(points->y));
}

}  // namespace

Result<Pattern> Pattern::create(std::vector<double> x, std::vector<double> y) {
    if (x.size() != y.size()) return parse_error("x and y must have the same length");
    if (x.empty()) return parse_error("pattern contains no points");
    // Every pair strictly increasing (a comparison with NaN is false) and
    // finite ends: then every x is finite. One pass for each axis, written
    // without early exits so that it runs on whole vectors.
    bool increasing = std::isfinite(x.front()) && std::isfinite(x.back());
    for (std::size_t i = 1; i < x.size(); ++i) increasing &= x[i - 1] < x[i];
    if (!increasing) return parse_error("x values must be finite and strictly increasing");
    constexpr std::uint64_t exponent_bits = 0x7FF0000000000000;
    std::uint64_t non_finite = 0;
    for (double v : y) non_finite |= (std::bit_cast<std::uint64_t>(v) & exponent_bits) == exponent_bits;
    if (non_finite != 0) return parse_error("y values must be finite");
    return Pattern(std::move(x), std::move(y));
}

Result<Pattern> read_bytes_with_options(std::span<const std::byte> data, std::string_view filename,
                                        const ReadOptions& options) {
    return finish(parser::parse(data, filename, options));
}

Result<Pattern> read_with_options(std::string_view path, const ReadOptions& options) {
    auto buffer = read_file(path);
    if (!buffer) return std::unexpected(std::move(buffer.error()));
    return finish(parser::parse(buffer->bytes(), path, options));
}

}  // namespace difrax

namespace difrax {

std::string_view format_name(Format format) noexcept {
    switch (format) {
    case Format::Xy: return "XY";
    case Format::Chi: return "CHI";
    case Format::Ras: return "RAS";
    case Format::Uxd: return "UXD";
    case Format::Gsas: return "GSAS";
    case Format::PdCif: return "pdCIF";
    case Format::BrukerRaw: return "Bruker RAW";
    case Format::Xrdml: return "XRDML";
    case Format::Brml: return "BRML";
    case Format::Rasx: return "RASX";
    }
    return "";
}

Result<Format> detect_format(std::span<const std::byte> data, std::string_view filename) {
    return parser::detect(data, filename);
}

}  // namespace difrax
