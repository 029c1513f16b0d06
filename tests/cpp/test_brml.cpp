// The BRML reader: raw data members by index, the measured route, the columns
// its views declare, the comma-separated records, and the corpus files.
#include <sstream>
#include <string>
#include <vector>

#include "support.hpp"
#include "xml/readers.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using difrax::testing::bytes_of;
using difrax::testing::error_text;
namespace zip = difrax::testing::zip;

std::string view(std::string_view type, std::string_view start, std::string_view length, std::string_view inner = "") {
    return "<RawDataView xsi:type=\"" + std::string(type) + "\" Start=\"" + std::string(start) + "\" Length=\"" +
           std::string(length) + "\"><Varying>" + std::string(inner) + "</Varying></RawDataView>";
}
std::string field(std::string_view axis_id, std::string_view field_name) {
    return "<FieldDefinitions FieldName=\"" + std::string(field_name) + "\" AxisId=\"" + std::string(axis_id) +
           "\"><VisibleName>x</VisibleName></FieldDefinitions>";
}
// Time and absorption, then TwoTheta and Theta, then the counts: the usual
// layout of a coupled scan.
const std::string usual = view("FixedRawDataView", "0", "1") + view("FixedRawDataView", "1", "1") +
                          view("VaryingRawDataView", "2", "2", field("TwoTheta", "TwoTheta") + field("Theta", "Theta")) +
                          view("RecordedRawDataView", "4", "1");
const std::string two_records = "<Datum>96,1,10.0,5.0,123</Datum><Datum>96,1,10.5,5.25,124</Datum>";

std::string route(std::string_view views, std::string_view data, std::string_view flag = "Measured") {
    return "<DataRoute RouteFlag=\"" + std::string(flag) + "\"><ScanInformation/>" + std::string(data) +
           "<DataViews>" + std::string(views) + "</DataViews></DataRoute>";
}
std::string raw(std::string_view routes) {
    return "<?xml version=\"1.0\"?><RawData xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><DataRoutes>" +
           std::string(routes) + "</DataRoutes></RawData>";
}

// A BRML container: the data container, whose reference list is `list`,
// stored first, then the given members.
std::string brml(std::string_view list, const std::vector<std::pair<std::string, std::string>>& members,
                 std::string container = "Experiment0/DataContainer.xml") {
    zip::Builder builder;
    builder.deflated("Experiment0/MeasurementContainer.xml", "<MeasurementContainer/>");
    builder.deflated(std::move(container), "<?xml version=\"1.0\"?><DataContainer><RawDataReferenceList>" +
                                               std::string(list) + "</RawDataReferenceList></DataContainer>");
    for (const auto& [name, content] : members) builder.deflated(name, content);
    return builder.bytes();
}
std::string one_scan(std::string_view routes) {
    return brml("<string>Experiment0/RawData0.xml</string>", {{"Experiment0/RawData0.xml", raw(routes)}});
}

// The points as "x:y" pairs, or the error's display text.
std::string outcome(const Result<Points>& r) {
    if (!r) return r.error().display();
    std::ostringstream out;
    for (std::size_t i = 0; i < r->x.size(); ++i) out << (i ? " " : "") << r->x[i] << ':' << r->y[i];
    return out.str();
}
std::string read(const std::string& archive, std::uint64_t index = 0) {
    return outcome(parse_brml(bytes_of(archive), index));
}

struct Case {
    const char* what;
    std::string views;
    std::string data;
    std::string expected;
};

class Columns : public ::testing::TestWithParam<Case> {};

TEST_P(Columns, DeclaredByTheViews) {
    EXPECT_EQ(read(one_scan(route(GetParam().views, GetParam().data))), GetParam().expected) << GetParam().what;
}

const std::string varying = view("VaryingRawDataView", "0", "1", field("TwoTheta", "TwoTheta"));
std::string recorded(std::string_view start, std::string_view length = "1") {
    return view("RecordedRawDataView", start, length);
}
const std::string invalid = "Parse error: invalid column Start/Length";

INSTANTIATE_TEST_SUITE_P(
    Views, Columns,
    ::testing::Values(
        Case{"usual layout", usual, two_records, "10:123 10.5:124"},
        Case{"plus sign", varying + recorded("+2"), "<Datum>1,x,3</Datum>", "1:3"},
        Case{"negative", varying + recorded("-1"), "", invalid},
        Case{"decimal point", varying + recorded("1.0"), "", invalid},
        Case{"blank", varying + recorded(" 1"), "", invalid},
        Case{"too large", varying + recorded("18446744073709551616"), "", invalid},
        Case{"ignored kind still parsed", view("FixedRawDataView", "x", "1") + varying + recorded("1"), "", invalid},
        Case{"no Length", varying + "<RawDataView xsi:type=\"RecordedRawDataView\" Start=\"1\"/>", "",
             "Parse error: missing column Start/Length"},
        Case{"detector frame after a counter", varying + recorded("1") + recorded("2", "2"), "",
             "Parse error: BRML detector frames are not integrated XRD profiles"},
        Case{"first counter wins", varying + recorded("2") + recorded("1"), "<Datum>1,2,3</Datum>", "1:3"},
        Case{"more fields than columns",
             view("VaryingRawDataView", "0", "1", field("Theta", "Theta") + field("TwoTheta", "TwoTheta")) +
                 recorded("2"),
             "", "Parse error: BRML fields exceed declared view length"},
        Case{"blank AxisId falls back to FieldName",
             view("VaryingRawDataView", "0", "1", field(" ", "TwoTheta")) + recorded("1"), "<Datum>7,8</Datum>",
             "7:8"},
        Case{"AxisId decides over FieldName",
             view("VaryingRawDataView", "0", "1", field("Theta", "TwoTheta")) + recorded("1"), "",
             "Parse error: BRML has no varying TwoTheta column"},
        Case{"letter case of the axis", view("VaryingRawDataView", "1", "1", field(" TWOtheta ", "")) + recorded("0"),
             "<Datum>8,7</Datum>", "7:8"},
        Case{"2Theta is not TwoTheta", view("VaryingRawDataView", "0", "1", field("2Theta", "")) + recorded("1"), "",
             "Parse error: BRML has no varying TwoTheta column"},
        Case{"other prefix", view("ns:VaryingRawDataView", "0", "1", field("TwoTheta", "")) + recorded("1"),
             "<Datum>7,8</Datum>", "7:8"},
        Case{"kind is case-sensitive", view("varyingRawDataView", "0", "1", field("TwoTheta", "")) + recorded("1"),
             "", "Parse error: BRML has no varying TwoTheta column"},
        Case{"no counter", varying, "", "Parse error: BRML has no recorded intensity column"},
        Case{"column overflow",
             view("VaryingRawDataView", "18446744073709551615", "2", field("Theta", "") + field("TwoTheta", "")) +
                 recorded("0"),
             "", "Parse error: BRML column overflow"},
        Case{"record without the counter", usual, "<Datum>96,1,10,5</Datum>",
             "Parse error: BRML datum missing intensity column"},
        Case{"record without 2theta", view("VaryingRawDataView", "3", "1", field("TwoTheta", "")) + recorded("0"),
             "<Datum>1,2</Datum>", "Parse error: BRML datum missing TwoTheta column"},
        Case{"empty field read", varying + recorded("1"), "<Datum>1,,3</Datum>",
             "Parse error: invalid numeric value \"\""},
        Case{"empty field skipped", varying + recorded("2"), "<Datum>1,,3</Datum>", "1:3"},
        Case{"fields left to right", view("VaryingRawDataView", "1", "1", field("TwoTheta", "")) + recorded("0"),
             "<Datum>a,b</Datum>", "Parse error: invalid numeric value \"a\""},
        Case{"blanks around fields", usual, "<Datum>x, y , 10.5 ,z, 7 \n</Datum>", "10.5:7"},
        Case{"non-finite", usual, "<Datum>1,1,inf,5,7</Datum>", "Parse error: non-finite numeric value"},
        Case{"one column for both", varying + recorded("0"), "<Datum>4</Datum>", "4:4"}));

TEST(Brml, RouteChoice) {
    const std::string one = route(usual, "<Datum>1,1,10,5,1</Datum>", "Calculated");
    const std::string two = route(usual, "<Datum>1,1,20,5,2</Datum>", "Measured");
    const std::string ambiguous = "Parse error: BRML requires one unambiguous measured data route";
    EXPECT_EQ(read(one_scan(one + two)), "20:2");
    EXPECT_EQ(read(one_scan(two + one)), "20:2");
    EXPECT_EQ(read(one_scan(one)), "10:1");
    EXPECT_EQ(read(one_scan(one + one)), ambiguous);
    EXPECT_EQ(read(one_scan(two + two)), ambiguous);
    EXPECT_EQ(read(one_scan("")), ambiguous);
}

TEST(Brml, MembersListedByTheContainer) {
    std::string archive = brml(
        "<string>\n  Set0/Raw0.xml  </string><string> </string></RawDataReferenceList><RawDataReferenceList>"
        "<anything>Set0/Raw1.xml</anything><string>Set0/Missing.xml</string>",
        {{"Set0/Raw0.xml", raw(route(usual, "<Datum>1,1,10,5,1</Datum>"))},
         {"Set0/Raw1.xml", raw(route(usual, "<Datum>1,1,20,5,2</Datum>"))}});
    EXPECT_EQ(read(archive, 0), "10:1");
    EXPECT_EQ(read(archive, 1), "20:2");
    EXPECT_EQ(read(archive, 2), "File not found in archive: Set0/Missing.xml");
    EXPECT_EQ(read(archive, 3), "Parse error: scan 3 is out of range (3 scans)");
    EXPECT_EQ(read(brml("", {})), "Parse error: scan 0 is out of range (0 scans)");
}

TEST(Brml, ContainerFoundByItsNameSuffix) {
    const std::string list = "<string>R.xml</string>";
    const std::vector<std::pair<std::string, std::string>> member{{"R.xml", raw(route(usual, two_records))}};
    EXPECT_EQ(read(brml(list, member, "DataContainer.xml")), "10:123 10.5:124");
    EXPECT_EQ(read(brml(list, member, "xDataContainer.xml")), "10:123 10.5:124");
    EXPECT_EQ(read(brml(list, member, "Experiment0/datacontainer.xml")), "Parse error: BRML missing DataContainer.xml");
}

TEST(Brml, LoadsThroughTheEntryPoint) {
    std::string records;
    for (int i = 99'999; i >= 0; --i) records += "<Datum>1,1," + std::to_string(i) + ".5,0," + std::to_string(i % 7) + "</Datum>\n";
    std::string archive = brml("<string>Experiment0/RawData0.xml</string><string>Experiment0/RawData1.xml</string>",
                               {{"Experiment0/RawData0.xml", raw(route(usual, ""))},
                                {"Experiment0/RawData1.xml", raw(route(usual, records))}});
    EXPECT_EQ(error_text(testing::load(archive, "", 0)), "Parse error: pattern contains no points");
    auto p = testing::load(archive, "scan.brml", 1);
    ASSERT_TRUE(p) << error_text(p);
    ASSERT_EQ(p->size(), 100'000u);
    EXPECT_EQ(p->x()[0], 0.5);
    EXPECT_EQ(p->y()[99'999], 99'999 % 7);
}

}  // namespace
}  // namespace difrax::xml
