// difrax: loader for X-ray powder diffraction patterns.
//
// One call loads one pattern: 2theta in degrees (strictly increasing) and the
// intensity in the file's own units. Every failure is one `Error` value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace difrax {

// The single error type of the library.
class Error {
public:
    enum class Kind { Io, Zip, Parse, UnknownFormat, FileNotFoundInArchive };

    static Error io(std::string description);
    static Error zip(std::string description);
    static Error parse(std::string message);
    static Error unknown_format();
    static Error file_not_found_in_archive(std::string name);

    Kind kind() const noexcept { return kind_; }
    // The payload: the I/O or ZIP description, the parse message, the member
    // name; empty for UnknownFormat.
    const std::string& message() const noexcept { return payload_; }
    // "IO error: ...", "Zip error: ...", "Parse error: ...", "Unknown format",
    // "File not found in archive: ...".
    std::string display() const;

    bool operator==(const Error&) const = default;

private:
    Error(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}
    Kind kind_;
    std::string payload_;
};

template <class T>
using Result = std::expected<T, Error>;

// What a reader hands back inside the library (not part of the interface).
struct Points;

// A validated diffraction pattern: equally long, non-empty, x finite and
// strictly increasing, y finite.
class Pattern {
public:
    // Validates and takes both sequences; the first failed rule decides the
    // message.
    static Result<Pattern> create(std::vector<double> x, std::vector<double> y);

    std::span<const double> x() const noexcept { return x_; }
    std::span<const double> y() const noexcept { return y_; }
    std::size_t size() const noexcept { return x_.size(); }

private:
    // The library's own loads: a pattern whose reader made every check while
    // it stored the values is taken without a second pass.
    friend Result<Pattern> finish(Result<Points> points);
    Pattern(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y)) {}
    std::vector<double> x_;
    std::vector<double> y_;
};

struct ReadOptions {
    // Which pattern of a multi-pattern file (scans, banks, ranges, members).
    std::uint64_t index = 0;
    // Which powder CIF data block: the first whose name contains this text.
    std::optional<std::string> block;
};

// The formats difrax reads.
enum class Format { Xy, Chi, Ras, Uxd, Gsas, PdCif, BrukerRaw, Xrdml, Brml, Rasx };

// A short name for the format: "XY", "CHI", "RAS", "UXD", "GSAS", "pdCIF",
// "Bruker RAW", "XRDML", "BRML", "RASX".
std::string_view format_name(Format format) noexcept;

// The format that a load of these bytes would read, without reading the
// pattern; refusals are the errors a load would give for them.
Result<Format> detect_format(std::span<const std::byte> data, std::string_view filename);

// How many patterns a file of this format holds, i.e. how many values of
// `ReadOptions::index` select one (1 for single-pattern formats).
Result<std::uint64_t> count_patterns(std::span<const std::byte> data, Format format);

// Loads the file at `path`; the path also serves as the file-name hint.
Result<Pattern> read_with_options(std::string_view path, const ReadOptions& options);

// Loads bytes already in memory; `filename` is only a hint for its extension.
Result<Pattern> read_bytes_with_options(std::span<const std::byte> data, std::string_view filename,
                                        const ReadOptions& options);

}  // namespace difrax
