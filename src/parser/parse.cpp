#include "parser/parse.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "bruker/raw.hpp"
#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"
#include "xml/archive.hpp"
#include "xml/readers.hpp"

namespace difrax::parser {
namespace {

using text::Lines;

constexpr std::size_t detection_window = 65536;

bool starts_with(std::span<const std::byte> data, std::string_view signature) {
    return data.size() >= signature.size() && as_chars(data).substr(0, signature.size()) == signature;
}

bool is_raw(std::span<const std::byte> data) {
    if (starts_with(data, "RAW1.01") || starts_with(data, "RAW4.00") || starts_with(data, "RAW2")) return true;
    if (!starts_with(data, "RAW ")) return false;
    std::string_view head = as_chars(data).substr(0, std::min<std::size_t>(data.size(), 256));
    return head.find('\0') != std::string_view::npos;
}

bool is_zip(std::span<const std::byte> data) {
    return starts_with(data, "PK\x03\x04") || starts_with(data, std::string_view("PK\x05\x06", 4));
}

// BRML containers hold a ...DataContainer.xml; RASX ones a root.xml or
// profile texts. The BRML test runs over all names first.
Result<Format> container_format(std::span<const std::byte> data) {
    auto archive = xml::Archive::open(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    std::vector<std::string> names = archive->names();
    for (const std::string& name : names)
        if (name.ends_with("DataContainer.xml")) return Format::Brml;
    for (const std::string& name : names)
        if (name == "root.xml" || (name.find("Profile") != std::string::npos && name.ends_with(".txt")))
            return Format::Rasx;
    return std::unexpected(Error::unknown_format());
}

// The first 64 KiB of the text, cut back to a character boundary.
std::string_view detection_prefix(std::string_view text) {
    if (text.size() <= detection_window) return text;
    std::size_t end = detection_window;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// The line markers of the text formats, each found at the start of a line
// after white space; which one decides is the detection order's business.
struct LineMarkers {
    bool ras = false;    // *RAS_DATA_START, *RAS_HEADER_START
    bool data = false;   // data_ (a CIF data block)
    bool bank = false;   // BANK as the first word (GSAS)
    bool drive = false;  // _DRIVE= or _DRIVE = (UXD)
};

// Whether `test` holds for some line of the prefix that begins, after its
// white space, with `head`. Markers are rare and data rows never begin with
// one, so `head` is searched for through the window at memchr speed and only
// the lines it stands on are looked at, each once: a line's trimmed start is
// one place, so only its first occurrence can stand there. Line starts are
// searched back no further than the previous occurrence.
template <class Test>
bool has_line_starting(std::string_view prefix, std::string_view head, Test&& test) {
    const char* const end = prefix.data() + prefix.size();
    std::size_t line_begin = 0, searched = 0;
    bool looked = false;
    for (std::size_t at = prefix.find(head); at != std::string_view::npos; at = prefix.find(head, at + 1)) {
        const std::string_view between = prefix.substr(searched, at - searched);
        searched = at;
        if (const std::size_t feed = between.rfind('\n'); feed != std::string_view::npos) {
            line_begin = static_cast<std::size_t>(between.data() - prefix.data()) + feed + 1;
            looked = false;
        }
        if (looked) continue;
        looked = true;
        // Nearly every line begins with a printable ASCII character and
        // needs no trimming; the rest go through the Unicode rules.
        const char* p = prefix.data() + line_begin;
        const std::string_view line = text::take_line(p, end);
        const bool printable = !line.empty() && line.front() > ' ' && line.front() < 0x7F;
        const std::string_view t = printable ? line : text::trim_start(line);
        if (t.data() == prefix.data() + at && test(t)) return true;
    }
    return false;
}

bool first_word_is(std::string_view line, std::string_view word) {
    text::Words words(line);
    std::string_view first;
    return words.next(first) && first == word;
}

LineMarkers line_markers(std::string_view prefix) {
    return {
        .ras = has_line_starting(prefix, "*RAS_",
                                 [](std::string_view t) {
                                     return t.starts_with("*RAS_DATA_START") || t.starts_with("*RAS_HEADER_START");
                                 }),
        .data = has_line_starting(prefix, "data_", [](std::string_view) { return true; }),
        .bank = has_line_starting(prefix, "BANK", [](std::string_view t) { return first_word_is(t, "BANK"); }),
        .drive = has_line_starting(prefix, "_DRIVE",
                                   [](std::string_view t) { return t.starts_with("_DRIVE=") || t.starts_with("_DRIVE ="); }),
    };
}

bool reads_as_number(std::string_view token) { return text::decimal(token).has_value(); }

bool is_chi_header_line(std::string_view line) {
    std::string_view t = text::trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '!' || t.front() == '#') return false;
    text::Words words(t);
    std::string_view first, second;
    words.next(first);
    if (!reads_as_number(first)) return true;
    // A number alone is a value, not a header: a number followed by a word is a header.
    return words.next(second) && !reads_as_number(second);
}

// Lines 1-3 are header lines, line 4 holds the point count (and optionally
// "1"), and the count matches the non-blank lines that follow.
bool has_chi_shape(std::string_view prefix, std::string_view whole) {
    std::string_view head[5];
    Lines lines(prefix);
    for (auto& line : head)
        if (!lines.next(line)) return false;
    for (int i = 0; i < 3; ++i)
        if (!is_chi_header_line(head[i])) return false;
    std::vector<std::string_view> count_words = text::words(head[3]);
    if (count_words.empty() || count_words.size() > 2) return false;
    if (count_words.size() == 2 && count_words[1] != "1") return false;
    std::optional<std::uint64_t> count;
    for (std::string_view w : count_words) {
        auto value = text::unsigned_decimal(w);
        if (!value) return false;
        if (!count) count = value;
    }
    Lines all(whole);
    std::string_view line;
    for (int i = 0; i < 4; ++i) all.next(line);
    std::uint64_t points = 0;
    while (all.next(line)) {
        if (!text::trim(line).empty() && ++points > *count) return false;
    }
    return points == *count;
}

bool is_signed_int32(std::string_view token) {
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
        bool negative = token.front() == '-';
        token.remove_prefix(1);
        auto v = text::unsigned_decimal(token);
        if (!v || token.front() == '+') return false;
        return negative ? *v <= 2147483648ull : *v <= 2147483647ull;
    }
    auto v = text::unsigned_decimal(token);
    return v && token.front() != '+' && *v <= 2147483647ull;
}

// DIF files list reflections (2theta, d, I, h, k, l), not measured profiles.
bool is_dif_peak_list(std::string_view prefix) {
    int reflection_rows = 0;
    Lines lines(prefix);
    std::string_view line;
    while (lines.next(line)) {
        std::vector<std::string_view> tokens = text::words(line);
        std::size_t n = tokens.size();
        if ((n == 5 || n == 6) && reads_as_number(tokens[0]) && reads_as_number(tokens[1]) &&
            is_signed_int32(tokens[n - 3]) && is_signed_int32(tokens[n - 2]) && is_signed_int32(tokens[n - 1])) {
            if (++reflection_rows >= 3) return true;
        }
        std::string low = text::lower(line);
        std::vector<std::string_view> low_tokens = text::words(low);
        for (std::size_t i = 0; i + 2 < low_tokens.size(); ++i)
            if (low_tokens[i] == "h" && low_tokens[i + 1] == "k" && low_tokens[i + 2] == "l") return true;
    }
    return false;
}

Result<Points> single(std::uint64_t index, auto&& reader) {
    if (auto ok = one_pattern(index); !ok) return std::unexpected(std::move(ok.error()));
    return reader();
}

}  // namespace

Result<void> one_pattern(std::uint64_t index) {
    if (index != 0) return parse_error("this format has one pattern; index must be 0");
    return {};
}

std::string extension(std::string_view filename) {
    std::string_view name;
    while (!filename.empty()) {
        std::size_t slash = filename.rfind('/');
        std::string_view component = slash == std::string_view::npos ? filename : filename.substr(slash + 1);
        filename = slash == std::string_view::npos ? std::string_view() : filename.substr(0, slash);
        if (component.empty() || component == ".") continue;
        name = component;
        break;
    }
    if (name.empty() || name == "..") return {};
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return text::ascii_lower(name.substr(dot + 1));
}

Result<Format> detect(std::span<const std::byte> data, std::string_view filename) {
    if (is_raw(data)) return Format::BrukerRaw;
    if (is_zip(data)) return container_format(data);

    // Detection's own decoding; the chosen reader decodes again by itself.
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    const std::string_view whole = decoded->view();
    const std::string_view prefix = detection_prefix(whole);

    if (has_xrdml_root(whole)) return Format::Xrdml;
    const LineMarkers markers = line_markers(prefix);
    if (markers.ras) return Format::Ras;
    if (markers.data && prefix.find("_pd_") != std::string_view::npos) return Format::PdCif;
    if (markers.bank) return Format::Gsas;
    if (markers.drive) return Format::Uxd;
    if (has_chi_shape(prefix, whole)) return Format::Chi;

    // Binary content has no text marker. A NUL byte does not hide a marker
    // that was found, though: instrument software pads header lines with
    // NULs (Fit2D CHI labels, GSAS titles) in files that are otherwise text.
    if (prefix.find('\0') != std::string_view::npos) return std::unexpected(Error::unknown_format());

    const std::string ext = extension(filename);
    if (ext == "ras") return Format::Ras;
    if (ext == "uxd") return Format::Uxd;
    if (ext == "gsa" || ext == "gda" || ext == "xra" || ext == "raw" || ext == "gsas" || ext == "fxye")
        return Format::Gsas;
    if (ext == "cif") return Format::PdCif;
    if (ext == "chi") return Format::Chi;
    if (ext == "dif" && is_dif_peak_list(prefix))
        return parse_error("DIF reflection peak lists are not measured XRD profiles");
    if (ext == "rasx" || ext == "brml") return parse_error(ext + " is not a readable ZIP archive");
    if (ext == "xrdml") return Format::Xrdml;
    return Format::Xy;
}

Result<Points> dispatch(Format format, std::span<const std::byte> data, const ReadOptions& options) {
    const std::uint64_t index = options.index;
    switch (format) {
    case Format::BrukerRaw: return bruker::parse_bruker_raw(data, index);
    case Format::Brml: return xml::parse_brml(data, index);
    case Format::Rasx: return xml::parse_rasx(data, index);
    case Format::Xrdml: return xml::parse_xrdml(data, index);
    case Format::Ras: return text::parse_ras(data, index);
    case Format::Gsas: return text::parse_gsas(data, index);
    case Format::Uxd: return text::parse_uxd(data, index);
    case Format::PdCif: return single(index, [&] { return text::parse_pdcif(data, options.block); });
    case Format::Chi: return single(index, [&] { return text::parse_chi(data); });
    case Format::Xy: break;
    }
    return single(index, [&] { return text::parse_xy(data); });
}

Result<Points> parse(std::span<const std::byte> data, std::string_view filename, const ReadOptions& options) {
    auto format = detect(data, filename);
    if (!format) return std::unexpected(std::move(format.error()));
    return dispatch(*format, data, options);
}

}  // namespace difrax::parser
