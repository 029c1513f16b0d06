// GSAS powder data files: title and comment lines, then banks, each opened by
// a line whose first word is BANK. The BANK line gives the channel count, the
// binning and, for constant-step (CONS/CONST) binning, start and step in
// hundredths of a degree 2theta, then the record type:
//   STD   one intensity per channel, ten 8-column fields per 80-column record
//         (columns 1-2 may hold a repeat count, columns 3-8 the value);
//   ESD   intensity/esd pairs, five pairs per record;
//   FXYE  one "position intensity esd" line per point.
// Records written by hand or by other programs are often not column-exact,
// so lines that do not cut into well-formed fields are read word by word.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error/fail.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"

namespace difrax::text {
namespace {

// The selected bank: its BANK line and the text after it, where its records
// run up to the next BANK line.
struct Bank {
    std::string_view header;
    std::string_view body;
};

struct BankHeader {
    std::uint64_t channels;
    double start;  // hundredths of a degree
    double step;   // hundredths of a degree
    std::string type;
};

bool is_bank_line(std::string_view line) {
    Words words(line);
    std::string_view first;
    return words.next(first) && first == "BANK";
}

// Bank `index` in file order. Its records are read from the text after its
// BANK line, which is looked at only once: the reader stops at the next BANK
// line.
Result<Bank> select_bank(std::string_view text, std::uint64_t index) {
    Lines lines(text);
    std::uint64_t count = 0;
    std::string_view line;
    while (lines.next(line)) {
        if (!is_bank_line(line)) continue;
        if (count == index) return Bank{line, lines.rest()};
        ++count;
    }
    return parse_error("GSAS: bank index " + std::to_string(index) + " is out of range (" + std::to_string(count) +
                       " banks)");
}

// The next data record of a bank, none at the next BANK line: blank lines
// and "!" or "#" comments are skipped. Records are handed out untrimmed,
// since fixed-width fields count columns from the first character of the
// line.
bool next_bank_line(Lines& lines, std::string_view& line) {
    while (lines.next(line)) {
        if (is_bank_line(line)) return false;
        std::string_view t = trim(line);
        if (!t.empty() && t.front() != '!' && t.front() != '#') return true;
    }
    return false;
}

// Fields after the step may hold further numbers (offsets, instrument
// constants) before the record type; a comment ends them, and without a
// word there the records are STD.
Result<std::string_view> record_type(const std::vector<std::string_view>& fields) {
    for (std::size_t i = 7; i < fields.size(); ++i) {
        char first = fields[i].front();
        if (first == '!' || first == '#') break;
        if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) return fields[i];
        if (auto value = number(fields[i]); !value) return std::unexpected(std::move(value.error()));
    }
    return std::string_view("STD");
}

Result<BankHeader> bank_header(std::string_view line) {
    const std::vector<std::string_view> fields = words(line);
    if (fields.size() < 5) return parse_error("GSAS: incomplete BANK header");
    const std::string binning = ascii_upper(fields[4]);
    if (binning != "CONS" && binning != "CONST")
        return parse_error("GSAS: " + binning + " binning does not provide a supported 2theta axis");
    if (fields.size() < 7) return parse_error("GSAS: CONS/CONST requires a start and step");
    const auto channels = unsigned_decimal(fields[2]);
    if (!channels) return parse_error("GSAS: invalid channel count");
    if (*channels == 0) return parse_error("GSAS: zero channels");
    auto start = number(fields[5]);
    if (!start) return std::unexpected(std::move(start.error()));
    auto step = number(fields[6]);
    if (!step) return std::unexpected(std::move(step.error()));
    auto type = record_type(fields);
    if (!type) return std::unexpected(std::move(type.error()));
    std::string upper = ascii_upper(*type);
    if (upper != "FXYE" && upper != "STD" && upper != "ESD")
        return parse_error("GSAS: unsupported record type " + upper);
    return BankHeader{*channels, *start, *step, std::move(upper)};
}

bool is_ascii(std::string_view line) {
    return std::ranges::all_of(line, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<double> valid_number(std::string_view token) {
    auto value = number(token);
    return value ? std::optional(*value) : std::nullopt;
}

// Columns 1-2 of an STD field: blank, or a repeat count up to 255.
bool well_formed_repeat(std::string_view repeat) {
    if (repeat.empty()) return true;
    auto count = unsigned_decimal(repeat);
    return count && *count <= 255;
}

// Reads an STD record as 8-column fields when every field of it is well
// formed; otherwise leaves `values` as it was and answers false. Repeat
// counts (run-length compression) are refused rather than expanded.
Result<bool> read_fixed_std(std::string_view line, std::vector<double>& values) {
    if (line.size() < 8 || line.size() % 8 != 0 || !is_ascii(line)) return false;
    const std::size_t before = values.size();
    bool repeated = false;
    for (std::size_t at = 0; at < line.size(); at += 8) {
        std::string_view repeat = trim(line.substr(at, 2));
        std::string_view field = trim(line.substr(at + 2, 6));
        std::optional<double> value = field.empty() ? std::nullopt : valid_number(field);
        if (!value || !well_formed_repeat(repeat)) {
            values.resize(before);
            return false;
        }
        repeated = repeated || !(repeat.empty() || repeat == "0" || repeat == "1");
        values.push_back(*value);
    }
    if (repeated) return parse_error("GSAS STD: compressed repeat-count records are unsupported");
    return true;
}

Result<void> read_std_line(std::string_view line, std::vector<double>& values) {
    auto fixed = read_fixed_std(line, values);
    if (!fixed) return std::unexpected(std::move(fixed.error()));
    if (*fixed) return {};
    return append_white_space_values(line, values);
}

// Cuts a record into 8-column fields (the last one may be shorter) and
// appends the non-blank ones; at the first field that is no number, stops
// and answers false when `strict` is unset, or fails with its error.
Result<bool> append_cut_fields(std::string_view line, std::vector<double>& values, bool strict) {
    for (std::size_t at = 0; at < line.size(); at += 8) {
        std::string_view field = trim(line.substr(at, 8));
        if (field.empty()) continue;
        auto value = number(field);
        if (!value) {
            if (strict) return std::unexpected(std::move(value.error()));
            return false;
        }
        values.push_back(*value);
    }
    return true;
}

// ESD records are column-exact when they are whole 8-column fields; shorter
// or ragged ones are cut the same way if that gives whole pairs, else read
// word by word.
Result<void> read_esd_line(std::string_view line, std::vector<double>& values) {
    if (!is_ascii(line)) return parse_error("GSAS ESD: non-ASCII numeric record");
    const std::size_t before = values.size();
    if (line.size() >= 16 && line.size() % 8 == 0) {
        auto cut = append_cut_fields(line, values, true);
        if (!cut) return std::unexpected(std::move(cut.error()));
        return {};
    }
    auto cut = append_cut_fields(line, values, false);
    if (*cut && (values.size() - before) % 2 == 0) return {};
    values.resize(before);
    if (auto ok = append_white_space_values(line, values); !ok) return ok;
    if ((values.size() - before) % 2 != 0) return parse_error("GSAS ESD: incomplete intensity/esd pair");
    return {};
}

// One value (STD) or one intensity/esd pair (ESD) per channel. The last
// record may be padded with a few zeros to fill its line; anything more is
// refused, as is a bank that ends early.
Result<Points> channel_pattern(const BankHeader& header, const std::vector<double>& values, std::size_t stride) {
    const std::uint64_t channels = header.channels;
    if (values.size() % stride != 0 || values.size() / stride < channels)
        return parse_error("GSAS " + header.type + ": data is shorter than the declared " + std::to_string(channels) +
                           " channels");
    const std::size_t n = static_cast<std::size_t>(channels);
    const std::size_t used = stride * n;
    const bool padding_only =
        values.size() - used < 10 && std::all_of(values.begin() + static_cast<std::ptrdiff_t>(used), values.end(),
                                                 [](double v) { return v == 0.0; });
    if (!padding_only)
        return parse_error("GSAS " + header.type + ": unexpected data beyond the declared channel count");

    const double start = header.start / 100.0;
    const double step = header.step / 100.0;
    std::vector<double> x, y;
    reserve_values(x, n);
    reserve_values(y, n);
    for (std::size_t i = 0; i < n; ++i) {
        // Product and sum rounded one by one, so that every build and
        // platform gives the same angles.
        const double offset = step * static_cast<double>(i);
        x.push_back(start + offset);
        y.push_back(values[stride * i]);
    }
    return pattern(std::move(x), std::move(y), "GSAS");
}

Result<Points> read_channels(const BankHeader& header, std::string_view body) {
    if (header.step / 100.0 == 0.0) return parse_error("GSAS: step must be nonzero");
    const bool esd = header.type == "ESD";
    const std::size_t stride = esd ? 2 : 1;
    // A value takes at least 2 bytes of text (a digit and a separator):
    // never reserve more than the bank can hold, whatever it declares.
    std::vector<double> values;
    reserve_values(values, std::min<std::uint64_t>(header.channels, body.size() / (2 * stride) + 1) * stride);
    Lines lines(body);
    std::string_view line;
    while (next_bank_line(lines, line)) {
        auto ok = esd ? read_esd_line(line, values) : read_std_line(line, values);
        if (!ok) return std::unexpected(std::move(ok.error()));
    }
    return channel_pattern(header, values, stride);
}

// FXYE: position (hundredths of a degree), intensity and esd on every line.
Result<Points> read_fxye(const BankHeader& header, std::string_view body) {
    // The shortest record ("1 2 3" and its LF) takes 6 bytes.
    const std::size_t room = std::min<std::uint64_t>(header.channels, body.size() / 6 + 1);
    std::vector<double> x, y;
    reserve_values(x, room);
    reserve_values(y, room);
    Lines lines(body);
    std::string_view line;
    while (next_bank_line(lines, line)) {
        Words words(line);
        std::string_view position, intensity, esd, extra;
        if (!words.next(position)) return parse_error("GSAS FXYE: missing position");
        if (!words.next(intensity)) return parse_error("GSAS FXYE: missing intensity");
        if (!words.next(esd)) return parse_error("GSAS FXYE: missing third column");
        if (words.next(extra)) return parse_error("GSAS FXYE: each record must have exactly three columns");
        auto at = number(position);
        if (!at) return std::unexpected(std::move(at.error()));
        auto value = number(intensity);
        if (!value) return std::unexpected(std::move(value.error()));
        if (auto checked = number(esd); !checked) return std::unexpected(std::move(checked.error()));
        x.push_back(*at / 100.0);
        y.push_back(*value);
    }
    if (x.size() < header.channels)
        return parse_error("GSAS FXYE: BANK declares " + std::to_string(header.channels) + " points but " +
                           std::to_string(x.size()) + " were read");
    return pattern(std::move(x), std::move(y), "GSAS");
}

}  // namespace

Result<Points> parse_gsas(std::span<const std::byte> data, std::uint64_t index) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    auto bank = select_bank(decoded->view(), index);
    if (!bank) return std::unexpected(std::move(bank.error()));
    auto header = bank_header(bank->header);
    if (!header) return std::unexpected(std::move(header.error()));
    if (header->type == "FXYE") return read_fxye(*header, bank->body);
    return read_channels(*header, bank->body);
}

Result<std::uint64_t> count_gsas_banks(std::span<const std::byte> data) {
    auto decoded = decode(data);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    return count_lines(decoded->view(), is_bank_line);
}

}  // namespace difrax::text
