// CIF tokens and blocks, CIF numbers, the 2theta axis sources and the pdCIF
// reader.
#include "support.hpp"
#include "text/cif.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

// The tokens joined by "|", a quoted one wrapped in <>.
std::string tokens_of(const std::string& cif) {
    auto tokens = cif_tokens(cif);
    if (!tokens) return error_text(tokens);
    std::string out;
    for (const CifToken& t : *tokens)
        out += (out.empty() ? "" : "|") + (t.quoted ? "<" + std::string(t.text) + ">" : std::string(t.text));
    return out;
}

// The blocks grouped straight from the text, checked against grouping the
// whole token list: both ways must agree on the blocks and on the first fault.
Result<std::vector<CifBlock>> blocks_of(std::string_view cif, CifNumericTags numeric = {}) {
    auto direct = cif_blocks(cif, numeric);
    auto tokens = cif_tokens(cif);
    auto split = tokens ? cif_blocks(*tokens, numeric) : std::unexpected(tokens.error());
    EXPECT_EQ(error_text(direct), error_text(split)) << cif;
    if (!direct || !split) return direct;
    EXPECT_EQ(direct->size(), split->size());
    for (std::size_t i = 0; i < std::min(direct->size(), split->size()); ++i) {
        EXPECT_EQ((*direct)[i].name, (*split)[i].name);
        EXPECT_EQ((*direct)[i].loop_columns, (*split)[i].loop_columns);
        EXPECT_EQ((*direct)[i].single_values, (*split)[i].single_values);
    }
    return direct;
}

std::string column(const CifBlock& b, std::string_view tag) {
    auto it = b.loop_columns.find(tag);
    if (it == b.loop_columns.end()) return "missing";
    std::string out;
    for (std::string_view v : it->second.texts) out += "[" + std::string(v) + "]";
    return out;
}

TEST(Cif, TokensSplitAsCifDoes) {
    const std::string quote = "Parse error: pdCIF: unterminated quoted value";
    const std::string field = "Parse error: pdCIF: unterminated semicolon text field";
    check({// A quote closes only before white space or at the very end.
           {"a 'it's' b", "a|<it's>|b"}, {"\"x\"y\"\tz", "<x\"y>|z"}, {"'a'", "<a>"}, {"'' \"\"", "<>|<>"},
           {"'a b'\r\n", "<a b>"}, {"x'y' z'", "x'y'|z'"}, {"'abc", quote}, {"'abc\n'", quote}, {"x 'y'z", quote},
           // Comments start only where a token would.
           {"abc#def # note 'open\nnext", "abc#def|next"}, {"#only", ""}, {"", ""},
           // Text fields keep everything between the semicolons, CR included.
           {";one\n two\n;\n_x", "<one\n two\n>|_x"}, {"_a\r\n;line\r\n;", "_a|<line\r\n>"}, {";\n;", "<\n>"},
           {"x ;y z", "x|;y|z"}, {";abc;", field}, {"x\n;abc\n ;", field},
           // Only the five ASCII separators split.
           {"a\vb c\fd", "a\vb|c|d"}, {"a\u00A0b\u3000c", "a\u00A0b\u3000c"}},
          tokens_of);
}

TEST(Cif, BlocksHoldNamesTagsAndValues) {
    auto blocks = blocks_of(
        "global_ DATA_Sample1\n_PD_Tag 'v 1' _pd_tag v2 _other ;\n_pd_x \"_looks_like_tag\"\n"
        "loop_ _A _b 1 2 3 4 save_frame _in_frame f save_ stop_\nloop_ _pd_tag ?\n"
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
    EXPECT_EQ(column(b, "_a") + column(b, "_b"), "[1][3][2][4]");
    EXPECT_EQ(column(b, "_pd_tag"), "[?]");  // one tag as a single value and as a loop column
    EXPECT_EQ((*blocks)[1].name, "");
    EXPECT_EQ(column((*blocks)[1], "_a") + column((*blocks)[1], "_b"), "");
    EXPECT_EQ((*blocks)[2].name, "Sample1");
    EXPECT_EQ((*blocks)[2].single_values.at("_c"), ".");
    EXPECT_EQ(column((*blocks)[2], "_a"), "[5]");  // a loop tag repeats freely across blocks
}

TEST(Cif, BlockFaultsAreNamed) {
    const std::string incomplete = "Parse error: pdCIF: incomplete loop row";
    const std::string no_tags = "Parse error: pdCIF: loop has no column tags";
    const std::string missing = "Parse error: pdCIF: missing value for _pd_tag";
    check({{"_x 1 data_a", "Parse error: pdCIF: tag precedes a data block"},
           {"save_s loop_ _x 1", "Parse error: pdCIF: loop precedes a data block"},
           {"data_a loop_", no_tags}, {"data_a loop_ '_x' 1", no_tags},
           {"data_a loop_ _a _b 1 2 3", incomplete}, {"data_a loop_ _a _b 1 2 3 _c 4", incomplete},
           {"data_a loop_ _X 1 loop_ _x 2", "Parse error: pdCIF: duplicate loop tag _x"},
           {"data_a loop_ _y _Y 1 2", "Parse error: pdCIF: duplicate loop tag _y"},
           {"data_a _Pd_Tag", missing}, {"data_a _Pd_Tag _next 1", missing},
           {"data_a _t loop_ _x 1", "Parse error: pdCIF: missing value for _t"},
           {"data_a _t data_b", "Parse error: pdCIF: missing value for _t"},
           {"data_a 'data_b'", "Parse error: pdCIF: unexpected token \"data_b\""},
           {"data_a _t 1 2", "Parse error: pdCIF: unexpected token \"2\""},
           {"data_a\n;x\"y\n;", "Parse error: pdCIF: unexpected token \"x\\\"y\\n\""},
           {"Loop ", "Parse error: pdCIF: unexpected token \"Loop\""},
           {"data_a loops_", "Parse error: pdCIF: unexpected token \"loops_\""},
           {"data_a _t stop_x", "ok"}, {"data_a _t global_x", "ok"},
           {"data_a _t stop_", "Parse error: pdCIF: missing value for _t"},
           // A splitting fault anywhere outranks a grouping fault before it.
           {"_x 1\n'open", "Parse error: pdCIF: unterminated quoted value"},
           {"data_a loop_ _a _b 1 2 3\n;open", "Parse error: pdCIF: unterminated semicolon text field"}},
          [](const std::string& cif) { return error_text(blocks_of(cif)); });
}

TEST(Cif, NumbersDropTheUncertainty) {
    const std::string malformed = "Parse error: pdCIF: malformed numeric uncertainty";
    check({{"12.345(6)", "12.345"}, {"1.5(2)e3", "1500"}, {"-3(10)", "-3"}, {"7", "7"}, {"2.5D1", "25"},
           {"1e-2(0)", "0.01"}, {"1." + std::string(80, '0') + "5(3)", "1"}, {"1(", malformed}, {"1()", malformed},
           {"1(a)", malformed}, {"1( 2)", malformed}, {"1(2", malformed}, {"1(-2)", malformed}, {"(", malformed},
           {"1(2.5)", malformed}, {"?", "Parse error: Invalid numeric value \"?\""},
           {".", "Parse error: Invalid numeric value \".\""},
           // Messages name the text with the uncertainty removed.
           {"x(1)y", "Parse error: Invalid numeric value \"xy\""},
           {"1(2)(3)", "Parse error: Invalid numeric value \"1(3)\""},
           {"1(2)e999", "Parse error: Non-finite numeric value \"1e999\""}},
          [](const std::string& t) { return cif_number(t) ? shortest(*cif_number(t)) : error_text(cif_number(t)); });
}

std::string joined(const std::vector<double>& values) {
    std::string out;
    for (double v : values) out += (out.empty() ? "" : " ") + shortest(v);
    return out;
}

// The axis of a block with the given tags for `count` points: its values,
// "none", or the error.
std::string axis_text(std::string_view tags, std::size_t count = 3) {
    const std::string text = "data_t\n" + std::string(tags);  // the blocks view into it
    auto blocks = blocks_of(text, pdcif_numeric_tags);
    if (!blocks) return error_text(blocks);
    auto axis = cif_2theta_axis(blocks->front(), count);
    if (!axis || !*axis) return axis ? "none" : error_text(axis);
    return joined(**axis);
}

TEST(Cif, AxisSourcesInOrderOfPreference) {
    const std::string corrected = "loop_ _pd_proc_2theta_corrected 1 2 3\n";
    const std::string proc = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.5\n";
    const std::string scan = "loop_ _pd_meas_2theta_scan 7 8 9.5(1)\n";
    const std::string meas = "_pd_meas_2theta_range_min 20 _pd_meas_2theta_range_inc 2\n";
    EXPECT_EQ(axis_text(corrected + proc + scan + meas), "1 2 3");
    EXPECT_EQ(axis_text(meas + scan + proc), "10 10.5 11");
    EXPECT_EQ(axis_text(meas + scan), "7 8 9.5");
    EXPECT_EQ(axis_text(meas), "20 22 24");
    // An empty column or half a range does not count as a source.
    const std::string empty = "loop_ _pd_proc_2theta_corrected _other stop_ ";
    EXPECT_EQ(axis_text("_pd_proc_2theta_range_min 1 " + empty + meas), "20 22 24");
    EXPECT_EQ(axis_text("_pd_meas_2theta_range_inc 1 _pd_meas_2theta_range_max 3"), "none");
    EXPECT_EQ(axis_text("_pd_proc_2theta_corrected 1"), "none");
    EXPECT_EQ(axis_text(scan, 5), "7 8 9.5");  // a column keeps its own length; the reader compares it
}

// Each angle is computed from the start; the end must match the last angle
// within a millionth of a step.
TEST(Cif, RangeEndAndIncrement) {
    const std::string range = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.02 _pd_proc_2theta_range_max ";
    const std::string disagrees = "Parse error: pdCIF: angular range disagrees with point count";
    const std::string axis = joined(stepped(10, 0.02, 3001));
    check({{"70", axis}, {"69.99999998", axis}, {"70.001", disagrees}, {"69.9999999", disagrees},
           {"?", "Parse error: Invalid numeric value \"?\""}},
          [&](const std::string& max) { return axis_text(range + max, 3001); });
    EXPECT_EQ(axis_text(range + "70", 0), "");
    for (std::string_view inc : {"0", "-0.02"})
        EXPECT_EQ(axis_text("_pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc " + std::string(inc)),
                  "Parse error: pdCIF: 2theta increment must be positive");
}

std::string read(std::string_view cif, std::optional<std::string> block = std::nullopt) {
    return outcome(parse_pdcif(bytes_of(cif), block));
}

TEST(PdCif, PicksIntensitiesAndBlocks) {
    const std::string two_runs = "data_structure\n_cell_length_a 5.4(1)\nloop_ _atom_site_label Si1\n"
                                 "data_run1 loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 10 2 20\n"
                                 "data_myrun2b _pd_meas_2theta_range_min 5 _pd_meas_2theta_range_inc 1\n"
                                 "loop_ _pd_meas_counts_total _pd_proc_intensity_total 1 100(3) 2 200(3)\n"
                                 "loop_ _pd_meas_intensity_total\n";
    EXPECT_EQ(read(two_runs), "1:10 2:20");
    EXPECT_EQ(read(two_runs, ""), "1:10 2:20");
    EXPECT_EQ(read(two_runs, "run2"), "5:100 6:200");
    // An empty processed column gives way to the counts.
    EXPECT_EQ(read("data_x loop_ _pd_proc_intensity_total _other loop_ _pd_meas_counts_total 4 5\n"
                   "_pd_proc_2theta_range_min 1 _pd_proc_2theta_range_inc 1"),
              "1:4 2:5");
    const std::string none = "Parse error: pdCIF: no matching block with 2theta and intensity data";
    check({{"", none}, {"data_a loop_ _pd_meas_counts_total 1 2", none},
           {"data_a loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2 2 ?",
            "Parse error: Invalid numeric value \"?\""},
           // The first bad block ends the read even though a later one would do.
           {"data_a loop_ _pd_meas_counts_total 1 _pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc 0\n"
            "data_b loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2",
            "Parse error: pdCIF: 2theta increment must be positive"},
           {"data_a loop_ _pd_meas_counts_total 1 2 3 loop_ _pd_proc_2theta_corrected 1 2",
            "Parse error: pdCIF: 2theta and intensity columns have different lengths"},
           // Intensities are read before the axis is looked for; the first bad value is named.
           {"data_a loop_ _pd_meas_counts_total 1 x y", "Parse error: Invalid numeric value \"x\""},
           // A syntax fault anywhere wins over the blocks before it.
           {"data_a loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2 _x\n'open",
            "Parse error: pdCIF: unterminated quoted value"}},
          [](const std::string& cif) { return read(cif); });
    EXPECT_EQ(read(two_runs, "RUN1"), none);
    // A bad value in a block that is not chosen does not matter.
    EXPECT_EQ(read("data_a loop_ _pd_meas_counts_total x\ndata_b loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2",
                   "b"),
              "1:2");
}

}  // namespace
}  // namespace difrax::text
