// The XML element tree: roots, nesting limit, text, references, attributes,
// names, refusal of document type declarations, and the xml number rules.
#include "support.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;

Result<Element> parse(std::string_view xml) { return document(bytes_of(xml)); }
std::string plain(std::string text) { return text.starts_with("Parse error: ") ? text.substr(13) : text; }

std::string nested(std::size_t depth, std::string_view inner = "") {
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) open += "<e>", close += "</e>";
    return open + std::string(inner) + close;
}

// The root as name, its attributes as " key=value" and [text], or the error
// without its "Parse error: "; the detail expat adds after "XML parse: ",
// "XML entity: " or "XML attribute: " is shown as "...".
std::string tree(const std::string& xml) {
    auto root = parse(xml);
    if (!root) {
        const std::string got = plain(root.error().display());
        const std::size_t detail = got.starts_with("XML ") ? got.find(": ") : std::string::npos;
        return detail == std::string::npos ? got : got.substr(0, detail + 2) + "...";
    }
    std::string out = root->name;
    for (const auto& [key, value] : root->attributes) out += " " + key + "=" + value;
    return out + "[" + root->text + "]";
}

TEST(Tree, RootsAndRefusals) {
    const std::string one_root = "XML must contain exactly one root element", truncated = "truncated XML document";
    const std::string too_deep = "XML nesting exceeds 128 elements", attribute = "XML attribute: ...";
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string_view("<r a=\"1\">2</r>")) utf16 += {c, '\0'};
    check({{"\n\n<?xml version=\"1.0\"?><!--c--><r/>\n \t", "r[]"}, {"\xEF\xBB\xBF\u00A0<r/>\u3000", "r[]"},
           // UTF-16 is decoded first, and its faults are the decoder's.
           {utf16, "r a=1[2]"}, {utf16 + "<", "truncated UTF-16 text"}, {utf16 + "\xFF\xDB", "invalid UTF-16 text"},
           // Text joins the runs, CDATA and references directly inside the element, as written.
           {"<r>\t a<!--c-->b<![CDATA[<&>]]>c<?pi x?>d<k>in child</k>e\r\n&lt;&#65;&#x42;&quot; </r>",
            "r[\t ab<&>cde\n<AB\" ]"},
           // The declared encoding plays no part.
           {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\u00E9\u03B8</r>", "r[\u00E9\u03B8]"},
           // Attribute values are normalised; prefixes are dropped up to the first ":" of a name, the last of a key.
           {"<r a=\"x\ty\r\nz\rw\nv\" b=\"&lt;&#x41;&amp;&#9;&#10;\" c='\"'/>", "r a=x y z w v b=<A&\t\n c=\"[]"},
           {"<p:r:s q:k=\"1\" k=\"2\" xmlns:p=\"urn:p\" xmlns=\"urn:d\" a:b:c=\"3\"/>",
            "r:s k=1 k=2 p=urn:p xmlns=urn:d c=3[]"},
           {"<?xml version=\"1.0\"?><!--a--> ", one_root}, {"<a/><b/>", one_root}, {"x<a/>", one_root},
           {"<a/></b>", "unexpected XML closing element"}, {"<a>", truncated}, {"<a>text", truncated},
           // What stands beside the root is read on: a later fault outranks the count of roots.
           {"<a/><b>", truncated}, {"x<a>", truncated}, {"x</a>", "unexpected XML closing element"},
           {"x<!DOCTYPE r><r/>", "XML document type declarations are not supported"}, {"<a/><b>&c;</b>", "XML entity: ..."},
           {"<?xml version=\"1.0\"?>\n\u00A0\n<r/>\u3000<!--c-->\u00A0", "r[]"}, {"<?xml?><r/>", "r[]"},
           // Input that ends inside a tag, comment or CDATA section is a parse fault, not a clean end.
           {"<a><![CDATA[x", "XML parse: ..."}, {"<a><b", "XML parse: ..."}, {"<a><!-- x", "XML parse: ..."},
           {"<a>x & y</a>", "XML parse: ..."}, {"<a>x < y</a>", "XML parse: ..."},
           // References that cannot be resolved, in text and in attribute values.
           {"<r>&foo;</r>", "XML entity: ..."}, {"<r>&#0;</r>", "XML entity: ..."},
           // Beside the root alike; a resolvable one there is text, and a bare "&" no reference.
           {"&foo;<r/>", "XML entity: ..."}, {"<r/>x&#0;", "XML entity: ..."}, {"<r/>&#65;", one_root},
           {"& <r/>", "XML parse: ..."}, {"<r/>&foo <a/>", "XML parse: ..."}, {"\x01<r/>", one_root},
           // Beside the root, characters expat refuses in text are text, and declarations and
           // instructions it refuses there are passed over: what follows is still read.
           {"\x01<r><a>", truncated}, {"<r/>\x01<!DOCTYPE x>", "XML document type declarations are not supported"},
           {"\x02<r/>\x01</r>", "unexpected XML closing element"}, {"<r/>]]>", one_root},
           {"<!--c--><?xml version=\"1.0\"?><?XML x?><r>1</r><?xml?>", "r[1]"}, {"<r><?xml?></r>", "XML parse: ..."},
           {"<r><s a=\"1\" b=\"&#0;\"/></r>", attribute}, {"<r a=\"1\" a=\"2\"/>", attribute}, {"<r a=1/>", attribute},
           // A document type declaration is refused after the root too (before it: test_hostile).
           {"<r/><!DOCTYPE r>", "XML document type declarations are not supported"},
           {"<!doctype r><r/>", "XML document type declarations are not supported"},
           // The nesting limit counts start tags only.
           {nested(128, "<leaf/><leaf x=\"1\" />"), "e[]"}, {nested(129), too_deep},
           {nested(128, "<e></e>"), too_deep},
           // Depth is judged before attributes, and not for an empty-element tag.
           {nested(128, "<e a=\"1\" a=\"2\"></e>"), too_deep}, {nested(128, "<e a=\">\" a=\"2\"/>"), attribute}},
          tree);
}

TEST(Tree, LookupsSearchInDocumentOrder) {
    auto root = parse("<x q:n=\"0\" n=\"9\"><y><x n=\"1\"><x n=\"2\"/></x></y><x n=\"3\"/><z><y/></z></x>");
    ASSERT_TRUE(root);
    std::string order;
    for (const Element* e : root->all("x")) order += *e->attr("n");
    EXPECT_EQ(order, "0123");  // the first of two attributes that lost their prefixes
    EXPECT_EQ(root->child("x")->attr("n"), "3");  // direct children only
    EXPECT_EQ(root->child("X"), nullptr);
    EXPECT_EQ(root->attr("m"), std::nullopt);
    std::vector<const Element*> out{&*root};
    root->child("z")->descendants("y", out);
    EXPECT_EQ(out.size(), 2u);  // appended to
}

// An element as its name, the range of gathered elements inside it, and its children.
std::string shape(const Element& e) {
    std::string out = e.name + std::to_string(e.gathered_first) + "-" + std::to_string(e.gathered_last);
    for (const Element& c : e.children) out += (&c == &e.children.front() ? "(" : " ") + shape(c);
    return e.children.empty() ? out : out + ")";
}

// Gathered elements leave the tree but keep their place: texts in start-tag
// order (nested ones too), each element's range covering exactly the gathered
// elements inside it, their children in their stead; the root stays.
TEST(Tree, GatheredElementsKeepDocumentOrder) {
    auto doc = document(bytes_of("<d><r><d a=\"x\">1<d>2</d>3<k/></d><d/></r><k><d>&lt;4<![CDATA[5]]></d></k></d>"),
                        "d");
    ASSERT_TRUE(doc) << doc.error().display();
    std::string texts;
    for (std::size_t i = 0; i < doc->gathered.spans.size(); ++i) texts += std::string(doc->gathered.text(i)) + "|";
    EXPECT_EQ(texts, "13|2||<45|");
    EXPECT_EQ(shape(doc->root), "d0-4(r0-3(k2-2) k3-4)");
    // Faults are reported as without gathering.
    auto bad = document(bytes_of("<r><d>1</d><d>&bad;</d></r>"), "d");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().display(), parse("<r><d>1</d><d>&bad;</d></r>").error().display());
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

// number() and numbers() read trimmed decimals split at white space; axis_key()
// removes only spaces, hyphens and underscores.
TEST(Words, NumbersAndAxisKeys) {
    const std::string nonfinite = "non-finite numeric value";
    check({{" \t12.5\n\u00A0", "12.5"}, {"-.5e1", "-5"}, {"1e400", nonfinite}, {"NaN", nonfinite},
           {" 1.5D3\t", "invalid numeric value \" 1.5D3\\t\""}, {"1 2", "invalid numeric value \"1 2\""}},
          [](const std::string& t) { return number(t) ? shortest(*number(t)) : plain(error_text(number(t))); });
    check({{"1 2\n3\t4\v5\f6\r7", "1 2 3 4 5 6 7"}, {"\u2003-1e2\u3000 .25 ", "-100 0.25"}, {"", ""},
           {"1 1e999 x", nonfinite},
           // Short decimals are read from the bytes, other words by the number rules: both in one list.
           {"5 1.0000000000000000000001 7\u00A08 +2. 1e00022 -0", "5 1 7 8 2 1e+22 -0"},
           {"12345678901234567890 9007199254740993", "12345678901234567168 9007199254740992"},
           {"1 2x 3", "invalid numeric value \"2x\""}, {"1 2\u00A0x", "invalid numeric value \"x\""}},
          [](const std::string& t) {
              std::string out;
              for (double v : numbers(t).value_or(std::vector<double>{})) out += (out.empty() ? "" : " ") + shortest(v);
              return numbers(t) ? out : plain(error_text(numbers(t)));
          });
    check({{" Omega-Two_Theta", "omegatwotheta"}, {"2\tTheta\n", "2\ttheta\n"}, {"\u0398\u00A0X", "\u03B8\u00A0x"}},
          axis_key);
}

}  // namespace
}  // namespace difrax::xml
