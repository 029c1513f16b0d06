// The XML element tree: roots, nesting limit, text, references, attributes,
// names, refusal of document type declarations, and the xml number rules.
#include "support.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;
using namespace std::string_literals;

Result<Element> parse(std::string_view xml) { return document(bytes_of(xml)); }

std::string nested(std::size_t depth, std::string_view innermost = "") {
    std::string s;
    for (std::size_t i = 0; i < depth; ++i) s += "<e>";
    s += innermost;
    for (std::size_t i = 0; i < depth; ++i) s += "</e>";
    return s;
}

// The root as name[text], or the error; the detail expat adds after "XML
// parse: ", "XML entity: " or "XML attribute: " is shown as "...".
std::string tree(const std::string& xml) {
    auto root = parse(xml);
    if (root) return root->name + "[" + root->text + "]";
    std::string got = root.error().display();
    for (std::string_view kind : {"XML parse: ", "XML entity: ", "XML attribute: "}) {
        const std::size_t n = 13 + kind.size();
        if (got.starts_with("Parse error: " + std::string(kind)) && got.size() > n) return got.substr(0, n) + "...";
    }
    return got;
}

TEST(Tree, RootsAndRefusals) {
    const std::string one_root = "Parse error: XML must contain exactly one root element";
    const std::string truncated = "Parse error: truncated XML document";
    const std::string closing = "Parse error: unexpected XML closing element";
    const std::string no_doctype = "Parse error: XML document type declarations are not supported";
    const std::string too_deep = "Parse error: XML nesting exceeds 128 elements";
    const std::string expat = "Parse error: XML parse: ...", entity = "Parse error: XML entity: ...",
                      attribute = "Parse error: XML attribute: ...";
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string_view("<r a=\"1\">2</r>")) utf16 += {c, '\0'};
    check({{"<?xml version=\"1.0\"?><!--c--><r/>\n \t", "r[]"}, {"\n\n<?xml version=\"1.0\"?><r/>", "r[]"},
           {"\xEF\xBB\xBF<r/>", "r[]"}, {"\u00A0<r/>\u3000", "r[]"}, {utf16, "r[2]"},
           // Text joins the runs, CDATA and references directly inside the element, as written.
           {"<r>a<!--c-->b<![CDATA[<&>]]>c<?pi x?>d<k>in child</k>e\r\n&lt;&#65;&#x42;&quot;</r>",
            "r[ab<&>cde\n<AB\"]"},
           {"<r>  padded\t</r>", "r[  padded\t]"},
           // The declared encoding plays no part.
           {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\u00E9\u03B8</r>", "r[\u00E9\u03B8]"},
           {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>\u00E9</r>", "r[\u00E9]"},
           {"", one_root}, {" \r\n\t ", one_root}, {"<?xml version=\"1.0\"?><!--a--> ", one_root},
           {"<a/><b/>", one_root}, {"x<a/>", one_root}, {"<a/>x", one_root}, {"&amp;<a/>", one_root},
           {"</a>", closing}, {"<a/></b>", closing}, {"<a>", truncated}, {"<a><b>text", truncated},
           {"<a><![CDATA[x", truncated}, {"<a><b></a>", expat}, {"<a>x & y</a>", expat}, {"<a>\0</a>"s, expat},
           {"\xFF\xFE\x31", "Parse error: truncated UTF-16 text"},
           // References that cannot be resolved, in text and in attribute values.
           {"<r>&foo;</r>", entity}, {"<r>&#0;</r>", entity}, {"<r>&#xD800;</r>", entity},
           {"<r a=\"x&foo;y\"/>", attribute}, {"<r><s a=\"1\" b=\"&#0;\"/></r>", attribute},
           {"<r a=\"1\" a=\"2\"/>", attribute}, {"<r a/>", attribute}, {"<r a=1/>", attribute},
           {"<r a=\"<\"/>", attribute},
           // Nothing of a document type declaration is read, wherever it stands.
           {"<!DOCTYPE r><r/>", no_doctype}, {"<!DOCTYPE r SYSTEM \"r.dtd\"><r/>", no_doctype},
           {"<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>", no_doctype}, {"<r><!DOCTYPE r></r>", no_doctype},
           {"<r/><!DOCTYPE r>", no_doctype},
           // The nesting limit counts start tags only.
           {nested(128), "e[]"}, {nested(128, "<leaf/><leaf x=\"1\" />"), "e[]"}, {nested(129), too_deep},
           {nested(128, "<e></e>"), too_deep}},
          tree);
}

TEST(Tree, AttributeValuesAreNormalisedAndNamesLosePrefixes) {
    auto root = parse("<r a=\"x\ty\r\nz\rw\nv\" b=\"&lt;&#x41;&amp;&#9;&#10;\" c='\"'/>");
    ASSERT_TRUE(root) << error_text(root);
    EXPECT_EQ(root->attr("a"), "x y z w v");
    EXPECT_EQ(root->attr("b"), "<A&\t\n");
    EXPECT_EQ(root->attr("c"), "\"");
    EXPECT_EQ(root->attr("d"), std::nullopt);

    root = parse("<p:r q:k=\"1\" k=\"2\" xmlns:p=\"urn:p\" xmlns=\"urn:d\" a:b:c=\"3\"><a:b:c/><k/></p:r>");
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
    std::string order;
    for (const Element* e : root->all("x")) order += *e->attr("n");
    EXPECT_EQ(order, "0123");
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

TEST(Numbers, TrimmedDecimalsSplitAtWhiteSpace) {
    const std::string nonfinite = "Parse error: non-finite numeric value";
    check({{" \t12.5\n\u00A0", "12.5"}, {"-.5e1", "-5"}, {"1e400", nonfinite}, {"NaN", nonfinite}, {"-inf", nonfinite},
           {"1,5", "Parse error: invalid numeric value \"1,5\""},
           {" 1.5D3\t", "Parse error: invalid numeric value \" 1.5D3\\t\""},
           {"1 2", "Parse error: invalid numeric value \"1 2\""}},
          [](const std::string& t) { return number(t) ? shortest(*number(t)) : error_text(number(t)); });
    check({{"1 2\n3\t4", "1 2 3 4"}, {"\u2003-1e2\u3000 .25 ", "-100 0.25"}, {"", ""}, {" \r\n ", ""},
           {"1 2 x 3", "Parse error: invalid numeric value \"x\""}, {"1 1e999 x", nonfinite},
           // Short decimals are read from the bytes, other words by the number rules: both in one list.
           {"5 1.0000000000000000000001 7\u00A08 +2. 1e00022 -0", "5 1 7 8 2 1e+22 -0"}, {"1\v2\f3", "1 2 3"},
           {"12345678901234567890 9007199254740993", "12345678901234567168 9007199254740992"},
           {"1 2x 3", "Parse error: invalid numeric value \"2x\""}, {"1 2\u00A0x", "Parse error: invalid numeric value \"x\""}},
          [](const std::string& t) {
              auto v = numbers(t);
              std::string out;
              for (std::size_t i = 0; v && i < v->size(); ++i) out += (i ? " " : "") + shortest((*v)[i]);
              return v ? out : error_text(v);
          });
}

TEST(AxisKey, RemovesOnlySpacesHyphensAndUnderscores) {
    check({{"2Theta", "2theta"}, {"Omega-2Theta", "omega2theta"}, {" Two_Theta ", "twotheta"},
           {"2\tTheta\n", "2\ttheta\n"}, {"\u0398\u00A0X", "\u03B8\u00A0x"}},
          axis_key);
}

}  // namespace
}  // namespace difrax::xml
