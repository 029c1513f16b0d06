#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "difrax/difrax.hpp"
#include "error/fail.hpp"
#include "load/points.hpp"
#include "parser/parse.hpp"

namespace difrax {

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (bytes < 2 * huge) return;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + huge - 1) & ~(huge - 1), last = (start + bytes) & ~(huge - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

void reserve_values(std::vector<double>& values, std::size_t n) {
    values.reserve(n);
    advise_huge_pages(values.data(), values.capacity() * sizeof(double));
}

void release_room(std::vector<double>& values) {
    if (values.capacity() - values.size() > values.size() / 4 + 64) values.shrink_to_fit();
}

namespace {

std::unexpected<Error> os_error(int code) {
    return std::unexpected(Error::io(std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"));
}

// Room for a file's bytes. Large files get pages of their own, asked for as
// huge pages where the system offers them: a 12 MB scan then costs a handful
// of page faults instead of thousands. The room is not cleared first: every
// byte handed on was written by read().
class FileBytes {
public:
    explicit FileBytes(std::size_t capacity) : capacity_(capacity) {
#ifdef MADV_HUGEPAGE
        if (capacity >= huge_threshold) {
            void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p != MAP_FAILED) {
                advise_huge_pages(p, capacity);
                data_ = static_cast<std::byte*>(p);
                mapped_ = true;
                return;
            }
        }
#endif
        data_ = new std::byte[capacity];
    }
    FileBytes(FileBytes&& other) noexcept
        : size(other.size), data_(std::exchange(other.data_, nullptr)), capacity_(other.capacity_),
          mapped_(other.mapped_) {}
    FileBytes& operator=(FileBytes&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
        std::swap(size, other.size);
        std::swap(mapped_, other.mapped_);
        return *this;
    }
    ~FileBytes() {
        if (data_ == nullptr) return;
        if (mapped_)
            ::munmap(data_, capacity_);
        else
            delete[] data_;
    }

    std::byte* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }
    std::span<const std::byte> bytes() const { return {data_, size}; }

    std::size_t size = 0;  // bytes read so far

private:
    static constexpr std::size_t huge_threshold = std::size_t{4} << 20;
    std::byte* data_ = nullptr;
    std::size_t capacity_ = 0;
    bool mapped_ = false;
};

// The whole file in one buffer, or the system's error.
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
    FileBytes file(capacity);
    for (;;) {
        if (file.size == file.capacity()) {
            FileBytes larger(file.capacity() * 2);
            std::memcpy(larger.data(), file.data(), file.size);
            larger.size = file.size;
            file = std::move(larger);
        }
        ssize_t got = ::read(fd, file.data() + file.size, file.capacity() - file.size);
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

// Validation runs over every value of every load. Its comparisons are
// independent of each other, so they are made two at a time on vector
// registers (a vector extension of GCC and Clang), which the compiler does
// not do by itself for comparisons of doubles.
using Pair = double __attribute__((vector_size(16)));
using PairMask = std::int64_t __attribute__((vector_size(16)));

Pair pair_at(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Every neighbour strictly greater (a comparison with NaN is false) and both
// ends finite: then every value is finite.
bool strictly_increasing(std::span<const double> x) {
    const std::size_t n = x.size();
    bool ok = std::isfinite(x.front()) && std::isfinite(x.back());
    PairMask out_of_order{};
    std::size_t i = 1;
    for (; i + 2 <= n; i += 2) out_of_order |= ~(pair_at(&x[i - 1]) < pair_at(&x[i]));
    ok &= (out_of_order[0] | out_of_order[1]) == 0;
    for (; i < n; ++i) ok &= x[i - 1] < x[i];
    return ok;
}

// v - v is zero for every finite v, NaN for infinities and NaN.
bool all_finite(std::span<const double> y) {
    const std::size_t n = y.size();
    PairMask bad{};
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const Pair v = pair_at(&y[i]);
        bad |= ~(v - v == Pair{});
    }
    bool ok = (bad[0] | bad[1]) == 0;
    for (; i < n; ++i) ok &= std::isfinite(y[i]);
    return ok;
}

}  // namespace

Result<Pattern> finish(Result<Points> points) {
    if (!points) return std::unexpected(std::move(points.error()));
    if (points->checked && !points->x.empty() && points->x.size() == points->y.size())
        return Pattern(std::move(points->x), std::move(points->y));
    orient(points->x, points->y);
    return Pattern::create(std::move(points->x), std::move(points->y));
}

Result<Pattern> Pattern::create(std::vector<double> x, std::vector<double> y) {
    if (x.size() != y.size()) return parse_error("x and y must have the same length");
    if (x.empty()) return parse_error("pattern contains no points");
    if (!strictly_increasing(x)) return parse_error("x values must be finite and strictly increasing");
    if (!all_finite(y)) return parse_error("y values must be finite");
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
