// CIF tokens and blocks, CIF numbers, the 2theta axis sources and the pdCIF
// reader, on made-up text and on the shared corpus.
#include <chrono>
#include <iostream>
#include <map>
#include <sstream>

#include "support.hpp"
#include "text/cif.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using difrax::testing::bytes_of;
using difrax::testing::error_text;

// Tokens written as text, a quoted one wrapped in <>.
std::vector<std::string> token_texts(std::string_view cif) {
    auto tokens = cif_tokens(cif);
    if (!tokens) return {"error: " + tokens.error().message()};
    std::vector<std::string> out;
    for (const CifToken& t : *tokens) out.push_back(t.quoted ? "<" + std::string(t.text) + ">" : std::string(t.text));
    return out;
}

// The blocks grouped straight from the text, checked against grouping the
// whole token list: both ways must agree on the blocks and on the first fault.
Result<std::vector<CifBlock>> blocks_of(std::string_view cif) {
    auto direct = cif_blocks(cif);
    auto tokens = cif_tokens(cif);
    auto split = tokens ? cif_blocks(*tokens) : std::unexpected(tokens.error());
    EXPECT_EQ(error_text(direct), error_text(split)) << cif;
    if (direct && split) {
        EXPECT_EQ(direct->size(), split->size());
        for (std::size_t i = 0; i < std::min(direct->size(), split->size()); ++i) {
            EXPECT_EQ((*direct)[i].name, (*split)[i].name);
            EXPECT_EQ((*direct)[i].loop_columns, (*split)[i].loop_columns);
            EXPECT_EQ((*direct)[i].single_values, (*split)[i].single_values);
        }
    }
    return direct;
}

Result<Points> read(std::string_view cif, std::optional<std::string> block = std::nullopt) {
    return parse_pdcif(bytes_of(cif), block);
}

std::vector<std::string> column(const CifBlock& b, std::string_view tag) {
    auto it = b.loop_columns.find(tag);
    if (it == b.loop_columns.end()) return {"missing"};
    return {it->second.begin(), it->second.end()};
}

struct TokenCase {
    std::string_view cif;
    std::vector<std::string> tokens;
};

class TokenSplit : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenSplit, SplitsAsCifDoes) { EXPECT_EQ(token_texts(GetParam().cif), GetParam().tokens); }

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenSplit,
    ::testing::Values(
        // A quote closes only before white space or at the very end.
        TokenCase{"a 'it's' b", {"a", "<it's>", "b"}}, TokenCase{"\"x\"y\"\tz", {"<x\"y>", "z"}},
        TokenCase{"'a'", {"<a>"}}, TokenCase{"'' \"\"", {"<>", "<>"}}, TokenCase{"'a b'\r\n", {"<a b>"}},
        TokenCase{"x'y' z'", {"x'y'", "z'"}},
        // Comments start only where a token would.
        TokenCase{"abc#def # note 'open\nnext", {"abc#def", "next"}}, TokenCase{"#only", {}},
        // Text fields keep everything between the semicolons, CR included.
        TokenCase{";one\n two\n;\n_x", {"<one\n two\n>", "_x"}},
        TokenCase{"_a\r\n;line\r\n;", {"_a", "<line\r\n>"}}, TokenCase{";\n;", {"<\n>"}},
        TokenCase{"x ;y z", {"x", ";y", "z"}},
        // Only the five ASCII separators split.
        TokenCase{"a\vb c\fd", {"a\vb", "c", "d"}}, TokenCase{"a\u00A0b\u3000c", {"a\u00A0b\u3000c"}},
        TokenCase{"", {}}, TokenCase{"'abc", {"error: pdCIF: unterminated quoted value"}},
        TokenCase{"'abc\n'", {"error: pdCIF: unterminated quoted value"}},
        TokenCase{"x 'y'z", {"error: pdCIF: unterminated quoted value"}},
        TokenCase{";abc;", {"error: pdCIF: unterminated semicolon text field"}},
        TokenCase{"x\n;abc\n ;", {"error: pdCIF: unterminated semicolon text field"}}));

TEST(Tokenizer, UnterminatedTextFieldInALargeFileFailsQuickly) {
    std::string cif = "data_big\n_x\n;";
    cif.reserve(8'000'000);
    while (cif.size() < 8'000'000) cif += "1.0(2) ;\n";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(error_text(read(cif)), "Parse error: pdCIF: unterminated semicolon text field");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(CifToken, ControlTokens) {
    for (std::string_view t : {"_x", "_", "data_", "DATA_a", "save_", "Save_f", "loop_", "LOOP_", "stop_", "global_"})
        EXPECT_TRUE((CifToken{t, false}.control())) << t;
    for (std::string_view t : {"", "loop", "loops_", "data", "stopper_", "x_", "global"})
        EXPECT_FALSE((CifToken{t, false}.control())) << t;
    EXPECT_FALSE((CifToken{"_x", true}.control()));
    EXPECT_FALSE((CifToken{"loop_", true}.control()));
}

TEST(Blocks, NamesTagsAndValues) {
    auto blocks = blocks_of(
        "global_ DATA_Sample1\n_PD_Tag 'v 1' _pd_tag v2 _other ;\n_pd_x \"_looks_like_tag\"\n"
        "loop_ _A _b 1 2 3 4 save_frame _in_frame f save_ stop_\n"
        "loop_ _pd_tag ?\n"
        "data_ loop_ _a _b data_Sample1 _c . loop_ _a 5");
    ASSERT_TRUE(blocks) << error_text(blocks);
    ASSERT_EQ(blocks->size(), 3u);
    const CifBlock& b = (*blocks)[0];
    EXPECT_EQ(b.name, "Sample1");
    // A later single value replaces an earlier one; a quoted "_..." is a value.
    EXPECT_EQ(b.single_values.at("_pd_tag"), "v2");
    EXPECT_EQ(b.single_values.at("_other"), ";");
    EXPECT_EQ(b.single_values.at("_pd_x"), "_looks_like_tag");
    EXPECT_EQ(b.single_values.at("_in_frame"), "f");
    EXPECT_EQ(column(b, "_a"), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(column(b, "_b"), (std::vector<std::string>{"2", "4"}));
    // One tag as a single value and as a loop column.
    EXPECT_EQ(column(b, "_pd_tag"), (std::vector<std::string>{"?"}));
    EXPECT_EQ((*blocks)[1].name, "");
    EXPECT_EQ(column((*blocks)[1], "_a"), std::vector<std::string>{});
    EXPECT_EQ(column((*blocks)[1], "_b"), std::vector<std::string>{});
    EXPECT_EQ((*blocks)[2].name, "Sample1");
    EXPECT_EQ((*blocks)[2].single_values.at("_c"), ".");
    // A loop tag repeats freely across blocks.
    EXPECT_EQ(column((*blocks)[2], "_a"), std::vector<std::string>{"5"});
}

struct BlockFailure {
    std::string_view cif;
    std::string_view message;
};

class BlockFailures : public ::testing::TestWithParam<BlockFailure> {};

TEST_P(BlockFailures, NameTheFault) {
    EXPECT_EQ(error_text(blocks_of(GetParam().cif)), "Parse error: " + std::string(GetParam().message))
        << GetParam().cif;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockFailures,
    ::testing::Values(BlockFailure{"_x 1 data_a", "pdCIF: tag precedes a data block"},
                      BlockFailure{"save_s loop_ _x 1", "pdCIF: loop precedes a data block"},
                      BlockFailure{"data_a loop_", "pdCIF: loop has no column tags"},
                      BlockFailure{"data_a loop_ '_x' 1", "pdCIF: loop has no column tags"},
                      BlockFailure{"data_a loop_ _a _b 1 2 3", "pdCIF: incomplete loop row"},
                      BlockFailure{"data_a loop_ _a _b 1 2 3 _c 4", "pdCIF: incomplete loop row"},
                      BlockFailure{"data_a loop_ _X 1 loop_ _x 2", "pdCIF: duplicate loop tag _x"},
                      BlockFailure{"data_a loop_ _y _Y 1 2", "pdCIF: duplicate loop tag _y"},
                      BlockFailure{"data_a _Pd_Tag", "pdCIF: missing value for _pd_tag"},
                      BlockFailure{"data_a _Pd_Tag _next 1", "pdCIF: missing value for _pd_tag"},
                      BlockFailure{"data_a _t loop_ _x 1", "pdCIF: missing value for _t"},
                      BlockFailure{"data_a _t data_b", "pdCIF: missing value for _t"},
                      BlockFailure{"data_a 'data_b'", "pdCIF: unexpected token \"data_b\""},
                      BlockFailure{"data_a _t 1 2", "pdCIF: unexpected token \"2\""},
                      BlockFailure{"data_a\n;x\"y\n;", "pdCIF: unexpected token \"x\\\"y\\n\""},
                      BlockFailure{"Loop ", "pdCIF: unexpected token \"Loop\""},
                      // A splitting fault anywhere outranks a grouping fault before it.
                      BlockFailure{"_x 1\n'open", "pdCIF: unterminated quoted value"},
                      BlockFailure{"data_a loop_ _a _b 1 2 3\n;open", "pdCIF: unterminated semicolon text field"}));

TEST(CifNumber, DropsTheUncertainty) {
    const std::map<std::string_view, double> values{
        {"12.345(6)", 12.345}, {"1.5(2)e3", 1500.0}, {"-3(10)", -3.0}, {"7", 7.0}, {"2.5D1", 25.0}, {"1e-2(0)", 0.01}};
    for (auto [text, value] : values) {
        auto v = cif_number(text);
        ASSERT_TRUE(v) << text << ": " << error_text(v);
        EXPECT_EQ(*v, value) << text;
    }
    const std::string long_mantissa = "1." + std::string(80, '0') + "5(3)";
    EXPECT_EQ(*cif_number(long_mantissa), 1.0);
}

TEST(CifNumber, Refusals) {
    for (std::string_view text : {"1(", "1()", "1(a)", "1( 2)", "1(2", "1(-2)", "(", "1(2.5)"})
        EXPECT_EQ(error_text(cif_number(text)), "Parse error: pdCIF: malformed numeric uncertainty") << text;
    EXPECT_EQ(error_text(cif_number("?")), "Parse error: Invalid numeric value \"?\"");
    EXPECT_EQ(error_text(cif_number(".")), "Parse error: Invalid numeric value \".\"");
    // Messages name the text with the uncertainty removed.
    EXPECT_EQ(error_text(cif_number("x(1)y")), "Parse error: Invalid numeric value \"xy\"");
    EXPECT_EQ(error_text(cif_number("1(2)(3)")), "Parse error: Invalid numeric value \"1(3)\"");
    EXPECT_EQ(error_text(cif_number("1(2)e999")), "Parse error: Non-finite numeric value \"1e999\"");
}

// A block whose profile has three intensities plus the given axis tags.
Result<std::optional<std::vector<double>>> axis_of(std::string_view tags, std::size_t count = 3) {
    const std::string cif = "data_t\n" + std::string(tags);
    auto blocks = blocks_of(cif);
    if (!blocks) return std::unexpected(blocks.error());
    return cif_2theta_axis(blocks->front(), count);
}

// The axis as text: its values, "none", or the error.
std::string axis_text(std::string_view tags, std::size_t count = 3) {
    auto axis = axis_of(tags, count);
    if (!axis) return error_text(axis);
    if (!*axis) return "none";
    std::ostringstream out;
    for (double v : **axis) out << (out.tellp() == 0 ? "" : " ") << v;
    return out.str();
}

TEST(Axis, SourcesInOrderOfPreference) {
    const std::string corrected = "loop_ _pd_proc_2theta_corrected 1 2 3\n";
    const std::string proc = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.5\n";
    const std::string scan = "loop_ _pd_meas_2theta_scan 7 8 9.5(1)\n";
    const std::string meas = "_pd_meas_2theta_range_min 20 _pd_meas_2theta_range_inc 2\n";
    EXPECT_EQ(axis_text(corrected + proc + scan + meas), "1 2 3");
    EXPECT_EQ(axis_text(meas + scan + proc), "10 10.5 11");
    EXPECT_EQ(axis_text(meas + scan), "7 8 9.5");
    EXPECT_EQ(axis_text(meas), "20 22 24");
    // An empty column or half a range does not count as a source.
    EXPECT_EQ(axis_text("_pd_proc_2theta_range_min 1\nloop_ _pd_proc_2theta_corrected _other stop_\n" + meas), "20 22 24");
    EXPECT_EQ(axis_text("_pd_meas_2theta_range_inc 1 _pd_meas_2theta_range_max 3"), "none");
    EXPECT_EQ(axis_text("_pd_proc_2theta_corrected 1"), "none");
    // A column axis keeps its own length; the reader compares it.
    EXPECT_EQ(axis_text(scan, 5), "7 8 9.5");
}

TEST(Axis, RangeEndAndIncrement) {
    const std::string range = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.02 ";
    auto axis = axis_of(range + "_pd_proc_2theta_range_max 70", 3001);
    ASSERT_TRUE(axis && *axis) << error_text(axis);
    EXPECT_EQ((*axis)->back(), 10 + 0.02 * 3000);
    EXPECT_EQ((*axis)->at(1234), 10 + 0.02 * 1234);
    EXPECT_EQ(error_text(axis_of(range + "_pd_proc_2theta_range_max 70.001", 3001)),
              "Parse error: pdCIF: angular range disagrees with point count");
    EXPECT_EQ(error_text(axis_of(range + "_pd_proc_2theta_range_max 69.99999998", 3001)), "ok");
    EXPECT_EQ(error_text(axis_of(range + "_pd_proc_2theta_range_max 69.9999999", 3001)),
              "Parse error: pdCIF: angular range disagrees with point count");
    EXPECT_EQ(error_text(axis_of(range + "_pd_proc_2theta_range_max ?", 3001)),
              "Parse error: Invalid numeric value \"?\"");
    EXPECT_EQ(error_text(axis_of(range + "_pd_proc_2theta_range_max 70", 0)), "ok");
    for (std::string_view inc : {"0", "-0.02"})
        EXPECT_EQ(error_text(axis_of("_pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc " + std::string(inc))),
                  "Parse error: pdCIF: 2theta increment must be positive");
}

constexpr std::string_view structure_block = "data_structure\n_cell_length_a 5.4(1)\nloop_ _atom_site_label Si1\n";

TEST(PdCif, PicksIntensitiesAndBlocks) {
    const std::string two_runs = std::string(structure_block) +
                                 "data_run1 loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 10 2 20\n"
                                 "data_myrun2b _pd_meas_2theta_range_min 5 _pd_meas_2theta_range_inc 1\n"
                                 "loop_ _pd_meas_counts_total _pd_proc_intensity_total 1 100(3) 2 200(3)\n"
                                 "loop_ _pd_meas_intensity_total\n";
    auto first = read(two_runs);
    ASSERT_TRUE(first) << error_text(first);
    EXPECT_EQ(first->x, (std::vector<double>{1, 2}));
    EXPECT_EQ(first->y, (std::vector<double>{10, 20}));
    auto second = read(two_runs, "run2");
    ASSERT_TRUE(second) << error_text(second);
    EXPECT_EQ(second->x, (std::vector<double>{5, 6}));
    EXPECT_EQ(second->y, (std::vector<double>{100, 200}));
    EXPECT_EQ(read(two_runs, "")->y, first->y);
    EXPECT_EQ(error_text(read(two_runs, "RUN1")), "Parse error: pdCIF: no matching block with 2theta and intensity data");
    // An empty processed column gives way to the counts.
    auto counts = read("data_x loop_ _pd_proc_intensity_total _other loop_ _pd_meas_counts_total 4 5\n"
                       "_pd_proc_2theta_range_min 1 _pd_proc_2theta_range_inc 1");
    ASSERT_TRUE(counts) << error_text(counts);
    EXPECT_EQ(counts->y, (std::vector<double>{4, 5}));
}

TEST(PdCif, Failures) {
    const std::map<std::string_view, std::string_view> cases{
        {"", "pdCIF: no matching block with 2theta and intensity data"},
        {"data_a loop_ _pd_meas_counts_total 1 2", "pdCIF: no matching block with 2theta and intensity data"},
        {"data_a loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2 2 ?", "Invalid numeric value \"?\""},
        // The first bad block ends the read even though a later one would do.
        {"data_a loop_ _pd_meas_counts_total 1 _pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc 0\n"
         "data_b loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2",
         "pdCIF: 2theta increment must be positive"},
        {"data_a loop_ _pd_meas_counts_total 1 2 3 loop_ _pd_proc_2theta_corrected 1 2",
         "pdCIF: 2theta and intensity columns have different lengths"},
        // Intensities are read before the axis is looked for.
        {"data_a loop_ _pd_meas_counts_total 1 x", "Invalid numeric value \"x\""},
        // A syntax fault anywhere wins over the blocks before it.
        {"data_a loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2 _x\n'open", "pdCIF: unterminated quoted value"},
        {"data_a _x", "pdCIF: missing value for _x"},
    };
    for (auto [cif, message] : cases) EXPECT_EQ(error_text(read(cif)), "Parse error: " + std::string(message)) << cif;
    const std::string_view odd_utf16 = "\xFF\xFE\x64";
    EXPECT_EQ(error_text(read(odd_utf16)), "Parse error: truncated UTF-16 text");
}

}  // namespace
}  // namespace difrax::text
