// CIF tokens and blocks, CIF numbers, the 2theta axis sources and the pdCIF
// reader. Failures are shown without their "Parse error: ".
#include <map>

#include "support.hpp"
#include "text/cif.hpp"
#include "text/readers.hpp"

namespace difrax::text {
namespace {

using namespace difrax::testing;

std::string fault(std::string text) { return text.starts_with("Parse error: ") ? text.substr(13) : text; }

// The tokens joined by "|", a quoted one wrapped in <>.
std::string tokens_of(const std::string& cif) {
    auto tokens = cif_tokens(cif);
    std::string out;
    for (const CifToken& t : tokens.value_or(std::vector<CifToken>{}))
        out += (out.empty() ? "" : "|") + (t.quoted ? "<" + std::string(t.text) + ">" : std::string(t.text));
    return tokens ? out : fault(error_text(tokens));
}

// Each block as name{ tag=value tag[text][number]...}, the tags sorted, a
// column's conversion fault as !size message; or the error.
std::string described(const Result<std::vector<CifBlock>>& blocks) {
    std::string out = blocks ? "" : fault(error_text(blocks));
    for (const CifBlock& b : blocks.value_or(std::vector<CifBlock>{})) {
        std::map<std::string, std::string> tags;
        for (const auto& [tag, value] : b.single_values) tags[tag] = "=" + std::string(value);
        for (const auto& [tag, c] : b.loop_columns) {
            std::string& t = tags[tag];
            for (std::string_view v : c.texts) t += "[" + std::string(v) + "]";
            for (double v : c.numbers) t += "[" + shortest(v) + "]";
            if (c.fault) t += "!" + std::to_string(c.size) + " " + c.fault->display();
        }
        out += std::string(b.name) + "{";
        for (const auto& [tag, text] : tags) out += " " + tag + text;
        out += "}";
    }
    return out;
}

// The blocks grouped straight from the text, checked against grouping the
// whole token list: both ways must agree on the blocks and on the first fault.
Result<std::vector<CifBlock>> blocks_of(std::string_view cif, CifNumericTags numeric = {}) {
    auto direct = cif_blocks(cif, numeric);
    auto tokens = cif_tokens(cif);
    EXPECT_EQ(described(direct), described(tokens ? cif_blocks(*tokens, numeric) : std::unexpected(tokens.error())))
        << cif;
    return direct;
}

TEST(Cif, TokensSplitAsCifDoes) {
    const std::string quote = "pdCIF: unterminated quoted value";
    check({// A quote closes only before white space or at the very end.
           {"\"x\"y\"\tz", "<x\"y>|z"}, {"'' \"\"", "<>|<>"}, {"x'y' z'", "x'y'|z'"}, {"'abc\n'", quote},
           {"x 'y'z", quote},
           // Comments start only where a token would; text fields, only at the start of a line.
           {"abc#def # note 'open\nnext #end", "abc#def|next"}, {";\n; _a\r\n;line\r\n;", "<\n>|_a|<line\r\n>"},
           {"x ;y z", "x|;y|z"}, {"x\n;abc\n ;", "pdCIF: unterminated semicolon text field"},
           // Only the five ASCII separators split.
           {"a\vb c\fd\u00A0e\u3000f", "a\vb|c|d\u00A0e\u3000f"}},
          tokens_of);
}

TEST(Cif, BlocksAndTheirFaults) {
    const std::string missing = "pdCIF: missing value for _t", unexpected = "pdCIF: unexpected token ";
    check({// A later single value replaces an earlier one and a quoted "_..." is a value; one tag can be a single
           // value and a loop column, and a loop tag repeats freely across blocks.
           {"global_ DATA_Sample1\n_PD_Tag 'v 1' _pd_tag v2 _other ;\n_pd_x \"_looks_like_tag\"\n"
            "loop_ _A _b 1 2 3 4 save_frame _in_frame f save_ stop_\nloop_ _pd_tag ?\n"
            "data_ loop_ _a _b data_Sample1 _c . loop_ _a 5",
            "Sample1{ _a[1][3] _b[2][4] _in_frame=f _other=; _pd_tag=v2[?] _pd_x=_looks_like_tag}{ _a _b}"
            "Sample1{ _a[5] _c=.}"},
           {"_x 1 data_a", "pdCIF: tag precedes a data block"},
           {"save_s loop_ _x 1", "pdCIF: loop precedes a data block"},
           {"data_a loop_ '_x' 1", "pdCIF: loop has no column tags"},
           // A short row outranks a repeated tag.
           {"data_a loop_ _y _Y 1", "pdCIF: incomplete loop row"},
           {"data_a loop_ _X 1 loop_ _x 2", "pdCIF: duplicate loop tag _x"},
           // The end or a control word leaves a tag without its value; words that only begin like one do not.
           {"data_a _T", missing}, {"data_a _t _next 1", missing}, {"data_a _t loop_ _x 1", missing},
           {"data_a _t data_b", missing}, {"data_a _t stop_", missing},
           {"data_a _t stop_x _u global_x", "a{ _t=stop_x _u=global_x}"},
           {"data_a 'data_b'", unexpected + "\"data_b\""}, {"data_a _t 1 2", unexpected + "\"2\""},
           {"data_a loops_", unexpected + "\"loops_\""},
           // A splitting fault anywhere outranks a grouping fault before it.
           {"_x 1\n'open", "pdCIF: unterminated quoted value"},
           {"data_a loop_ _a _b 1 2 3\n;open", "pdCIF: unterminated semicolon text field"}},
          [](const std::string& cif) { return described(blocks_of(cif)); });
}

std::string joined(const std::vector<double>& values) {
    std::string out;
    for (double v : values) out += (out.empty() ? "" : " ") + shortest(v);
    return out;
}

TEST(Cif, NumbersDropTheUncertainty) {
    const std::string malformed = "pdCIF: malformed numeric uncertainty";
    check({{"12.345(6)", "12.345"}, {"1.5(2)e3", "1500"}, {"7", "7"}, {"2.5D1", "25"},
           {"1." + std::string(80, '0') + "5(3)", "1"}, {"1(2", malformed}, {"1()", malformed}, {"1(2.5)", malformed},
           // Messages name the text with the uncertainty removed.
           {".", "Invalid numeric value \".\""}, {"x(1)y", "Invalid numeric value \"xy\""},
           {"1(2)(3)", "Invalid numeric value \"1(3)\""}, {"1(2)e999", "Non-finite numeric value \"1e999\""}},
          [](const std::string& t) { auto v = cif_number(t); return v ? shortest(*v) : fault(error_text(v)); });
    // Loop values of a profile column are read as they are split: to the
    // same numbers and faults, whatever follows them.
    for (std::string t : {"12.345(6)", "1.5(2)e3", "7", "2.5D1", "1(2", "1()", "1(2.5)", "x(1)y", "1(2)(3)",
                          "1230(35)x", "-5.0001", "+.5", "1e5", "1e", "5.", "9007199254740993", "1(2)e999"})
        for (std::string after : {"", "\n", " #c\n", "\t2 3"}) {
            const std::string text = "data_t\nloop_ _pd_meas_counts_total\n1 " + t + after;
            auto blocks = blocks_of(text, pdcif_numeric_tags);
            ASSERT_TRUE(blocks) << text;
            auto numbers = cif_numbers(blocks->front().loop_columns.at("_pd_meas_counts_total"));
            auto alone = cif_number(t);
            const std::string rest = after.ends_with("3") ? " 2 3" : "";
            EXPECT_EQ(numbers ? joined(*numbers) : error_text(numbers),
                      alone ? "1 " + shortest(*alone) + rest : error_text(alone)) << text;
        }
}

// The 2theta axis of a block with the given tags for `count` points: its
// values, "none", or the error.
std::string axis_text(std::string_view tags, std::size_t count = 3) {
    const std::string text = "data_t\n" + std::string(tags);  // the blocks view into it
    auto blocks = blocks_of(text, pdcif_numeric_tags);
    auto axis = blocks ? cif_2theta_axis(blocks->front(), count) : std::unexpected(blocks.error());
    return !axis ? fault(error_text(axis)) : *axis ? joined(**axis) : "none";
}

// Each angle is computed from the start; the end must match the last one
// within a millionth of a step.
TEST(Cif, AxisSourcesInOrderOfPreference) {
    const std::string corrected = "loop_ _pd_proc_2theta_corrected 1 2 3\n";
    const std::string proc = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.5\n";
    const std::string scan = "loop_ _pd_meas_2theta_scan 7 8 9.5(1)\n";
    const std::string meas = "_pd_meas_2theta_range_min 20 _pd_meas_2theta_range_inc 2\n";
    const std::string range = "_pd_proc_2theta_range_min 10 _pd_proc_2theta_range_inc 0.02 _pd_proc_2theta_range_max ";
    const std::string disagrees = "pdCIF: angular range disagrees with point count";
    check({{corrected + proc + scan + meas, "1 2 3"}, {meas + scan + proc, "10 10.5 11"}, {meas + scan, "7 8 9.5"},
           {meas, "20 22 24"},
           // An empty column, half a range or a single value does not count as a source.
           {"_pd_proc_2theta_range_min 1 loop_ _pd_proc_2theta_corrected _other stop_ " + meas, "20 22 24"},
           {"_pd_meas_2theta_range_inc 1 _pd_meas_2theta_range_max 3", "none"}, {"_pd_proc_2theta_corrected 1", "none"},
           {"_pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc -0.02", "pdCIF: 2theta increment must be positive"},
           {range + "10.03999998", "10 10.02 10.04"}, {range + "10.0399999", disagrees}, {range + "10.041", disagrees},
           {range + "?", "Invalid numeric value \"?\""}},
          [](const std::string& tags) { return axis_text(tags); });
    EXPECT_EQ(axis_text(range + "70", 3001), joined(stepped(10, 0.02, 3001)));
    EXPECT_EQ(axis_text(range + "70", 0), "");
}

std::string read(std::string_view cif, std::optional<std::string> block = std::nullopt) {
    return fault(outcome(parse_pdcif(bytes_of(cif), block)));
}

TEST(PdCif, PicksIntensitiesAndBlocks) {
    const std::string two_runs = "data_structure\n_cell_length_a 5.4(1)\nloop_ _atom_site_label Si1\n"
                                 "data_run1 loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 10 2 20\n"
                                 "data_myrun2b _pd_meas_2theta_range_min 5 _pd_meas_2theta_range_inc 1\n"
                                 "loop_ _pd_meas_counts_total _pd_proc_intensity_total 1 100(3) 2 200(3)\n"
                                 "loop_ _pd_meas_intensity_total\n";
    const std::string none = "pdCIF: no matching block with 2theta and intensity data";
    EXPECT_EQ(read(two_runs), "1:10 2:20");
    EXPECT_EQ(read(two_runs, ""), "1:10 2:20");
    EXPECT_EQ(read(two_runs, "run2"), "5:100 6:200");
    EXPECT_EQ(read(two_runs, "RUN1"), none);
    const std::string good = " loop_ _pd_meas_2theta_scan _pd_meas_counts_total 1 2\n";
    EXPECT_EQ(read("data_a loop_ _pd_meas_counts_total x\ndata_b" + good, "b"), "1:2");  // only the chosen block counts
    check({{"data_a loop_ _pd_meas_counts_total 1 2", none},
           // The first bad block ends the read even though a later one would do.
           {"data_a loop_ _pd_meas_counts_total 1 _pd_meas_2theta_range_min 1 _pd_meas_2theta_range_inc 0\n"
            "data_b" + good, "pdCIF: 2theta increment must be positive"},
           {"data_a loop_ _pd_meas_counts_total 1 2 3 loop_ _pd_proc_2theta_corrected 1 2",
            "pdCIF: 2theta and intensity columns have different lengths"},
           // Intensities are read before the axis is looked for; the first bad value is named.
           {"data_a loop_ _pd_meas_counts_total 1 x y", "Invalid numeric value \"x\""},
           {"data_a" + good + "_x\n'open", "pdCIF: unterminated quoted value"}},
          [](const std::string& cif) { return read(cif); });
}

}  // namespace
}  // namespace difrax::text
