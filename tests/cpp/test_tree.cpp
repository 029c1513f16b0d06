// The XML element tree: roots, nesting limit, text, references, attributes,
// names, refusal of document type declarations, and the xml number rules.
#include <cmath>

#include "support.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {
namespace {

using difrax::testing::bytes_of;
using difrax::testing::error_text;

Result<Element> parse(std::string_view xml) { return document(bytes_of(xml)); }

std::string nested(std::size_t depth, std::string_view innermost = "") {
    std::string s;
    for (std::size_t i = 0; i < depth; ++i) s += "<e>";
    s += innermost;
    for (std::size_t i = 0; i < depth; ++i) s += "</e>";
    return s;
}

struct Refusal {
    std::string input;
    std::string message;  // whole display text, or a prefix ending in ": "
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << ::testing::PrintToString(r.input); }

class TreeRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(TreeRefuses, WithTheRightMessage) {
    std::string got = error_text(parse(GetParam().input));
    const std::string& want = GetParam().message;
    if (want.ends_with(": "))
        EXPECT_TRUE(got.starts_with(want) && got.size() > want.size()) << got;
    else
        EXPECT_EQ(got, want);
}

const std::string one_root = "Parse error: XML must contain exactly one root element";
const std::string truncated = "Parse error: truncated XML document";
const std::string closing = "Parse error: unexpected XML closing element";
const std::string no_doctype = "Parse error: XML document type declarations are not supported";
const std::string entity = "Parse error: XML entity: ", attribute = "Parse error: XML attribute: ";

INSTANTIATE_TEST_SUITE_P(
    All, TreeRefuses,
    ::testing::Values(
        Refusal{"", one_root}, Refusal{" \r\n\t ", one_root}, Refusal{"<?xml version=\"1.0\"?><!--a--> ", one_root},
        Refusal{"<a/><b/>", one_root}, Refusal{"x<a/>", one_root}, Refusal{"<a/>x", one_root},
        Refusal{"&amp;<a/>", one_root}, Refusal{"</a>", closing}, Refusal{"<a/></b>", closing},
        Refusal{"<a>", truncated}, Refusal{"<a><b>text", truncated}, Refusal{"<a><![CDATA[x", truncated},
        Refusal{"<a><b></a>", "Parse error: XML parse: "}, Refusal{"<a>x & y</a>", "Parse error: XML parse: "},
        Refusal{std::string("<a>\0</a>", 8), "Parse error: XML parse: "},
        Refusal{"\xFF\xFE\x31", "Parse error: truncated UTF-16 text"},
        // References that cannot be resolved, in text and in attribute values.
        Refusal{"<r>&foo;</r>", entity}, Refusal{"<r>&#0;</r>", entity}, Refusal{"<r>&#xD800;</r>", entity},
        Refusal{"<r a=\"x&foo;y\"/>", attribute}, Refusal{"<r><s a=\"1\" b=\"&#0;\"/></r>", attribute},
        Refusal{"<r a=\"1\" a=\"2\"/>", attribute}, Refusal{"<r a/>", attribute}, Refusal{"<r a=1/>", attribute},
        Refusal{"<r a=\"<\"/>", attribute},
        // Nothing of a document type declaration is read, wherever it stands.
        Refusal{"<!DOCTYPE r><r/>", no_doctype}, Refusal{"<!DOCTYPE r SYSTEM \"r.dtd\"><r/>", no_doctype},
        Refusal{"<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>", no_doctype},
        Refusal{"<r><!DOCTYPE r></r>", no_doctype}, Refusal{"<r/><!DOCTYPE r>", no_doctype}));

TEST(Tree, AcceptsProlog) {
    for (std::string_view xml : {"<?xml version=\"1.0\"?><!--c--><r/>\n \t", "\n\n<?xml version=\"1.0\"?><r/>",
                                 "\xEF\xBB\xBF<r/>", "\u00A0<r/>\u3000"}) {
        auto root = parse(xml);
        ASSERT_TRUE(root) << error_text(root) << " for " << ::testing::PrintToString(std::string(xml));
        EXPECT_EQ(root->name, "r");
    }
}

TEST(Tree, TheDeclaredEncodingPlaysNoPart) {
    for (std::string_view decl : {"ISO-8859-1", "UTF-16"}) {
        std::string xml = "<?xml version=\"1.0\" encoding=\"" + std::string(decl) + "\"?><r>\u00E9\u03B8</r>";
        auto root = parse(xml);
        ASSERT_TRUE(root) << error_text(root);
        EXPECT_EQ(root->text, "\u00E9\u03B8");
    }
    // UTF-16 with a byte-order mark is decoded before parsing.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string_view("<r a=\"1\">2</r>")) utf16 += {c, '\0'};
    auto root = parse(utf16);
    ASSERT_TRUE(root) << error_text(root);
    EXPECT_EQ(root->attr("a"), "1");
    EXPECT_EQ(root->text, "2");
}

TEST(Tree, NestingLimitCountsStartTagsOnly) {
    EXPECT_TRUE(parse(nested(128)));
    EXPECT_TRUE(parse(nested(128, "<leaf/><leaf x=\"1\" />")));
    EXPECT_EQ(error_text(parse(nested(129))), "Parse error: XML nesting exceeds 128 elements");
    EXPECT_EQ(error_text(parse(nested(128, "<e></e>"))), "Parse error: XML nesting exceeds 128 elements");

    auto root = parse(nested(128, "<leaf/>"));
    ASSERT_TRUE(root);
    std::size_t depth = 1;
    const Element* e = &*root;
    while (const Element* c = e->child("e")) e = c, ++depth;
    EXPECT_EQ(depth, 128u);
    ASSERT_NE(e->child("leaf"), nullptr);
}

TEST(Tree, DeepAndExpandingDocumentsAreRefusedAtOnce) {
    std::string deep;
    for (int i = 0; i < 1'000'000; ++i) deep += "<e>";
    EXPECT_EQ(error_text(parse(deep)), "Parse error: XML nesting exceeds 128 elements");

    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        std::string prev = "&lol" + std::to_string(i - 1) + ";";
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += prev;
        laughs += "\">\n";
    }
    laughs += "]>\n<lolz>&lol9;</lolz>";
    EXPECT_EQ(error_text(parse(laughs)), no_doctype);
}

TEST(Tree, TextJoinsRunsCdataAndReferences) {
    auto root = parse("<r>a<!--c-->b<![CDATA[<&>]]>c<?pi x?>d<k>in child</k>e\r\n&lt;&#65;&#x42;&quot;</r>");
    ASSERT_TRUE(root) << error_text(root);
    EXPECT_EQ(root->text, "ab<&>cde\n<AB\"");
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0].text, "in child");
    EXPECT_EQ(parse("<r>  padded\t</r>")->text, "  padded\t");
}

TEST(Tree, AttributeValuesAreNormalised) {
    auto root = parse("<r a=\"x\ty\r\nz\rw\nv\" b=\"&lt;&#x41;&amp;&#9;&#10;\" c='\"'/>");
    ASSERT_TRUE(root) << error_text(root);
    EXPECT_EQ(root->attr("a"), "x y z w v");
    EXPECT_EQ(root->attr("b"), "<A&\t\n");
    EXPECT_EQ(root->attr("c"), "\"");
    EXPECT_EQ(root->attr("d"), std::nullopt);
}

TEST(Tree, NamesLosePrefixes) {
    auto root = parse("<p:r q:k=\"1\" k=\"2\" xmlns:p=\"urn:p\" xmlns=\"urn:d\" a:b:c=\"3\"><a:b:c/><k/></p:r>");
    ASSERT_TRUE(root) << error_text(root);
    EXPECT_EQ(root->name, "r");
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(root->attributes, (Pairs{{"k", "1"}, {"k", "2"}, {"p", "urn:p"}, {"xmlns", "urn:d"}, {"c", "3"}}));
    EXPECT_EQ(root->attr("k"), "1");
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(root->children[0].name, "b:c");
    EXPECT_EQ(root->child("k"), &root->children[1]);
    EXPECT_EQ(root->child("K"), nullptr);
}

TEST(Tree, LookupsSearchInDocumentOrder) {
    auto root = parse("<x n=\"0\"><y><x n=\"1\"><x n=\"2\"/></x></y><x n=\"3\"/><z><y/></z></x>");
    ASSERT_TRUE(root);
    std::vector<std::string_view> order;
    for (const Element* e : root->all("x")) order.push_back(*e->attr("n"));
    EXPECT_EQ(order, (std::vector<std::string_view>{"0", "1", "2", "3"}));
    EXPECT_EQ(root->all("y").size(), 2u);
    EXPECT_TRUE(root->all("w").empty());
    EXPECT_EQ(root->child("x")->attr("n"), "3");  // direct children only

    std::vector<const Element*> out{&*root};
    root->child("z")->descendants("y", out);
    EXPECT_EQ(out.size(), 2u);
}

// Text and tags that straddle the pieces in which large input is fed.
TEST(Tree, LargeDocumentsAcrossChunks) {
    std::string xml = "<r>";
    std::size_t values = 300'000;
    for (std::size_t i = 0; i < values; ++i) xml += "<v a=\"" + std::to_string(i) + "\"/>" + std::to_string(i % 10);
    xml += "<![CDATA[" + std::string(3'000'000, 'c') + "]]>" + nested(127, "<deep/>") + "</r>";
    auto root = parse(xml);
    ASSERT_TRUE(root) << error_text(root);
    ASSERT_EQ(root->children.size(), values + 1);
    EXPECT_EQ(root->children[values - 1].attr("a"), std::to_string(values - 1));
    EXPECT_EQ(root->text.size(), values + 3'000'000);
    EXPECT_EQ(root->all("deep").size(), 1u);
}

TEST(Number, TrimsAndRefuses) {
    EXPECT_EQ(*number(" \t12.5\n\u00A0"), 12.5);
    EXPECT_EQ(*number("-.5e1"), -5.0);
    EXPECT_EQ(error_text(number("1e400")), "Parse error: non-finite numeric value");
    EXPECT_EQ(error_text(number("NaN")), "Parse error: non-finite numeric value");
    EXPECT_EQ(error_text(number("-inf")), "Parse error: non-finite numeric value");
    EXPECT_EQ(error_text(number("1,5")), "Parse error: invalid numeric value \"1,5\"");
    EXPECT_EQ(error_text(number(" 1.5D3\t")), "Parse error: invalid numeric value \" 1.5D3\\t\"");
    EXPECT_EQ(error_text(number("1 2")), "Parse error: invalid numeric value \"1 2\"");
}

TEST(Numbers, SplitAtWhiteSpace) {
    EXPECT_EQ(*numbers("1 2\n3\t4"), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(*numbers("\u2003-1e2\u3000 .25 "), (std::vector<double>{-100, 0.25}));
    EXPECT_TRUE(numbers("")->empty());
    EXPECT_TRUE(numbers(" \r\n ")->empty());
    EXPECT_EQ(error_text(numbers("1 2 x 3")), "Parse error: invalid numeric value \"x\"");
    EXPECT_EQ(error_text(numbers("1 1e999 x")), "Parse error: non-finite numeric value");

    std::string many;
    for (int i = 0; i < 100'000; ++i) many += std::to_string(i) + (i % 7 ? " " : "\n");
    auto v = numbers(many);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->size(), 100'000u);
    EXPECT_EQ(v->back(), 99'999.0);
}

TEST(AxisKey, RemovesOnlySpacesHyphensAndUnderscores) {
    EXPECT_EQ(axis_key("2Theta"), "2theta");
    EXPECT_EQ(axis_key("Omega-2Theta"), "omega2theta");
    EXPECT_EQ(axis_key(" Two_Theta "), "twotheta");
    EXPECT_EQ(axis_key("2\tTheta\n"), "2\ttheta\n");
    EXPECT_EQ(axis_key("\u0398\u00A0X"), "\u03B8\u00A0x");
}

}  // namespace
}  // namespace difrax::xml
