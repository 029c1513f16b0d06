// The BRML reader: raw data members by index, the measured route, the columns
// its views declare, and the comma-separated records.
#include "support.hpp"
#include "xml/readers.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;
using Members = std::vector<std::pair<std::string, std::string>>;

std::string view(std::string_view type, std::string_view start, std::string_view length, std::string_view inner = "") {
    return "<RawDataView xsi:type=\"" + std::string(type) + "\" Start=\"" + std::string(start) + "\" Length=\"" +
           std::string(length) + "\"><Varying>" + std::string(inner) + "</Varying></RawDataView>";
}
std::string field(std::string_view axis_id, std::string_view field_name) {
    return "<FieldDefinitions FieldName=\"" + std::string(field_name) + "\" AxisId=\"" + std::string(axis_id) +
           "\"><VisibleName>x</VisibleName></FieldDefinitions>";
}
std::string varying(std::string_view start, std::string_view fields) {
    return view("VaryingRawDataView", start, "1", fields);
}
std::string recorded(std::string_view start, std::string_view length = "1") {
    return view("RecordedRawDataView", start, length);
}

// Time and absorption, then TwoTheta and Theta, then the counts: the usual
// layout of a coupled scan.
const std::string usual =
    view("FixedRawDataView", "0", "1") + view("FixedRawDataView", "1", "1") +
    view("VaryingRawDataView", "2", "2", field("TwoTheta", "TwoTheta") + field("Theta", "Theta")) + recorded("4");

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
std::string brml(std::string_view list, const Members& members,
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

std::string read(const std::string& archive, std::uint64_t index = 0) {
    return outcome(parse_brml(bytes_of(archive), index));
}

TEST(Brml, ColumnsDeclaredByTheViews) {
    const std::string invalid = "Parse error: invalid column Start/Length";
    const std::string no_two_theta = "Parse error: BRML has no varying TwoTheta column";
    const std::string tth = varying("0", field("TwoTheta", "TwoTheta"));
    check({{route(usual, "<Datum>96,1,10.0,5.0,123</Datum><Datum>96,1,10.5,5.25,124</Datum>"), "10:123 10.5:124"},
           {route(tth + recorded("+2"), "<Datum>1,x,3</Datum>"), "1:3"},
           {route(tth + recorded("-1"), ""), invalid}, {route(tth + recorded("1.0"), ""), invalid},
           {route(tth + recorded(" 1"), ""), invalid}, {route(tth + recorded("18446744073709551616"), ""), invalid},
           {route(view("FixedRawDataView", "x", "1") + tth + recorded("1"), ""), invalid},  // parsed though ignored
           {route(tth + "<RawDataView xsi:type=\"RecordedRawDataView\" Start=\"1\"/>", ""),
            "Parse error: missing column Start/Length"},
           {route(tth + recorded("1") + recorded("2", "2"), ""),
            "Parse error: BRML detector frames are not integrated XRD profiles"},
           // The first TwoTheta field and the first counter win.
           {route(tth + recorded("2") + recorded("1"), "<Datum>1,2,3</Datum>"), "1:3"},
           {route(tth + varying("1", field("TwoTheta", "")) + recorded("2"), "<Datum>1,2,3</Datum>"), "1:3"},
           {route(varying("0", field("Theta", "Theta") + field("TwoTheta", "TwoTheta")) + recorded("2"), ""),
            "Parse error: BRML fields exceed declared view length"},
           // The AxisId decides, unless it is blank; the kind is case-sensitive, its prefix is dropped.
           {route(varying("0", field(" ", "TwoTheta")) + recorded("1"), "<Datum>7,8</Datum>"), "7:8"},
           {route(varying("0", field("Theta", "TwoTheta")) + recorded("1"), ""), no_two_theta},
           {route(varying("1", field(" TWOtheta ", "")) + recorded("0"), "<Datum>8,7</Datum>"), "7:8"},
           {route(varying("0", field("2Theta", "")) + recorded("1"), ""), no_two_theta},
           {route(view("ns:VaryingRawDataView", "0", "1", field("TwoTheta", "")) + recorded("1"), "<Datum>7,8</Datum>"),
            "7:8"},
           {route(view("varyingRawDataView", "0", "1", field("TwoTheta", "")) + recorded("1"), ""), no_two_theta},
           {route(tth, ""), "Parse error: BRML has no recorded intensity column"},
           {route(view("VaryingRawDataView", "18446744073709551615", "2", field("Theta", "") + field("TwoTheta", "")) +
                      recorded("0"), ""),
            "Parse error: BRML column overflow"},
           // Records: the two wanted fields are read left to right, the others passed over.
           {route(usual, "<Datum>96,1,10,5</Datum>"), "Parse error: BRML datum missing intensity column"},
           {route(varying("3", field("TwoTheta", "")) + recorded("0"), "<Datum>1,2</Datum>"),
            "Parse error: BRML datum missing TwoTheta column"},
           {route(tth + recorded("1"), "<Datum>1,,3</Datum>"), "Parse error: invalid numeric value \"\""},
           {route(tth + recorded("2"), "<Datum>1,,3</Datum>"), "1:3"},
           {route(varying("1", field("TwoTheta", "")) + recorded("0"), "<Datum>a,b</Datum>"),
            "Parse error: invalid numeric value \"a\""},
           {route(usual, "<Datum>x, y , 10.5 ,z, 7 \n</Datum>"), "10.5:7"},
           {route(usual, "<Datum>1,1,inf,5,7</Datum>"), "Parse error: non-finite numeric value"},
           {route(tth + recorded("0"), "<Datum>4</Datum>"), "4:4"}},
          [](const std::string& r) { return read(one_scan(r)); });
}

TEST(Brml, RouteChoice) {
    const std::string calculated = route(usual, "<Datum>1,1,10,5,1</Datum>", "Calculated");
    const std::string measured = route(usual, "<Datum>1,1,20,5,2</Datum>", "Measured");
    const std::string ambiguous = "Parse error: BRML requires one unambiguous measured data route";
    check({{calculated + measured, "20:2"}, {measured + calculated, "20:2"}, {calculated, "10:1"},
           {calculated + calculated, ambiguous}, {measured + measured, ambiguous}, {"", ambiguous}},
          [](const std::string& routes) { return read(one_scan(routes)); });
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
    // The container is found by its name's suffix.
    const Members member{{"R.xml", raw(route(usual, "<Datum>1,1,10,5,1</Datum>"))}};
    EXPECT_EQ(read(brml("<string>R.xml</string>", member, "DataContainer.xml")), "10:1");
    EXPECT_EQ(read(brml("<string>R.xml</string>", member, "xDataContainer.xml")), "10:1");
    EXPECT_EQ(read(brml("<string>R.xml</string>", member, "Experiment0/datacontainer.xml")),
              "Parse error: BRML missing DataContainer.xml");
}

TEST(Brml, LoadsThroughTheEntryPoint) {
    std::string records;
    for (int i = 99'999; i >= 0; --i)
        records += "<Datum>1,1," + std::to_string(i) + ".5,0," + std::to_string(i % 7) + "</Datum>\n";
    std::string archive = brml("<string>E/Raw0.xml</string><string>E/Raw1.xml</string>",
                               {{"E/Raw0.xml", raw(route(usual, ""))}, {"E/Raw1.xml", raw(route(usual, records))}});
    EXPECT_EQ(outcome(load(archive, "", 0)), "Parse error: pattern contains no points");
    auto p = load(archive, "scan.brml", 1);
    ASSERT_TRUE(p) << error_text(p);
    ASSERT_EQ(p->size(), 100'000u);
    EXPECT_EQ(points_text(p->x().first(2), p->y().first(2)), "0.5:0 1.5:1");
    EXPECT_EQ(p->y()[99'999], 99'999 % 7);
}

}  // namespace
}  // namespace difrax::xml
