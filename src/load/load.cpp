#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "difrax/difrax.hpp"
#include "error/fail.hpp"
#include "parser/parse.hpp"

namespace difrax {
namespace {

std::unexpected<Error> os_error(int code) {
    return std::unexpected(Error::io(std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"));
}

// The whole file in one buffer, or the system's error.
Result<std::vector<std::byte>> read_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return std::unexpected(Error::io("file name contained an unexpected NUL byte"));
    std::string name(path);
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return os_error(errno);

    std::vector<std::byte> buffer;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        buffer.reserve(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (buffer.capacity() - used == 0) buffer.reserve(std::max<std::size_t>(8192, buffer.capacity() * 2));
        buffer.resize(buffer.capacity());
        ssize_t got = ::read(fd, buffer.data() + used, buffer.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return os_error(code);
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    buffer.resize(used);
    return buffer;
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
    bool finite = std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); });
    if (!finite || std::adjacent_find(x.begin(), x.end(), [](double a, double b) { return a >= b; }) != x.end())
        return parse_error("x values must be finite and strictly increasing");
    if (!std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); }))
        return parse_error("y values must be finite");
    return Pattern(std::move(x), std::move(y));
}

Result<Pattern> read_bytes_with_options(std::span<const std::byte> data, std::string_view filename,
                                        const ReadOptions& options) {
    return finish(parser::parse(data, filename, options));
}

Result<Pattern> read_with_options(std::string_view path, const ReadOptions& options) {
    auto buffer = read_file(path);
    if (!buffer) return std::unexpected(std::move(buffer.error()));
    return finish(parser::parse(*buffer, path, options));
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
