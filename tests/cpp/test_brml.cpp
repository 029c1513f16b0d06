// The BRML reader: raw data members by index, the measured route, the columns
// its views declare, and the comma-separated records.
#include "support.hpp"
#include "xml/readers.hpp"
#include "zip_builder.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;
using Members = std::vector<std::pair<std::string, std::string>>;

// A view of `length` record columns from `start`; a varying view lists a field per column.
std::string view(const std::string& kind, const std::string& start, const std::string& length = "1",
                 const std::string& fields = "") {
    return "<RawDataView xsi:type=\"" + kind + "\" Start=\"" + start + "\" Length=\"" + length + "\"><Varying>" +
           fields + "</Varying></RawDataView>";
}
std::string field(const std::string& axis_id, const std::string& field_name = "") {
    return "<FieldDefinitions FieldName=\"" + field_name + "\" AxisId=\"" + axis_id + "\"/>";
}
std::string varying(const std::string& at, const std::string& f) { return view("VaryingRawDataView", at, "1", f); }
std::string recorded(const std::string& at, const std::string& n = "1") { return view("RecordedRawDataView", at, n); }

// Time and absorption, then TwoTheta and Theta, then the counts: the usual
// layout of a coupled scan.
const std::string usual =
    view("FixedRawDataView", "0") + view("FixedRawDataView", "1") +
    view("VaryingRawDataView", "2", "2", field("TwoTheta", "TwoTheta") + field("Theta", "Theta")) + recorded("4");

// A route with these views and one Datum per record.
std::string route(const std::string& views, const std::vector<std::string>& records,
                  const std::string& flag = "Measured") {
    std::string data;
    for (const std::string& record : records) data += "<Datum>" + record + "</Datum>";
    return "<DataRoute RouteFlag=\"" + flag + "\"><ScanInformation/>" + data + "<DataViews>" + views +
           "</DataViews></DataRoute>";
}
std::string raw(const std::string& routes) {
    return "<?xml version=\"1.0\"?><RawData xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><DataRoutes>" +
           routes + "</DataRoutes></RawData>";
}

// A BRML container: the data container, whose reference list is `list`,
// stored first, then the given members.
std::string brml(const std::string& list, const Members& members, std::string container = "E/DataContainer.xml") {
    zip::Builder builder;
    builder.deflated("E/MeasurementContainer.xml", "<MeasurementContainer/>");
    builder.deflated(std::move(container), "<?xml version=\"1.0\"?><DataContainer><RawDataReferenceList>" + list +
                                               "</RawDataReferenceList></DataContainer>");
    for (const auto& [name, content] : members) builder.deflated(name, content);
    return builder.bytes();
}

// The points or the error (without its "Parse error: ").
std::string read(const std::string& archive, std::uint64_t index = 0) {
    std::string text = outcome(parse_brml(bytes_of(archive), index));
    return text.starts_with("Parse error: ") ? text.substr(13) : text;
}
// The first scan of a container with one raw data member of these routes.
std::string read_routes(const std::string& routes) {
    return read(brml("<string>E/RawData0.xml</string>", {{"E/RawData0.xml", raw(routes)}}));
}

TEST(Brml, ColumnsDeclaredByTheViews) {
    const std::string invalid = "invalid column Start/Length", no_two_theta = "BRML has no varying TwoTheta column";
    const std::string tth = varying("0", field("TwoTheta", "TwoTheta"));
    const struct { std::string views; std::vector<std::string> records; std::string expected; } cases[] = {
        {usual, {"96,1,10.0,5.0,123", "96,1,10.5,5.25,124"}, "10:123 10.5:124"},
        // Start and Length are unsigned decimals without blanks, parsed in every view (overflow: test_hostile counts).
        {tth + recorded("+2"), {"1,x,3"}, "1:3"}, {tth + recorded(" 1"), {}, invalid},
        {view("FixedRawDataView", "x") + tth + recorded("1"), {}, invalid},
        {tth + "<RawDataView xsi:type=\"RecordedRawDataView\" Start=\"1\"/>", {}, "missing column Start/Length"},
        {tth + recorded("1") + recorded("2", "2"), {}, "BRML detector frames are not integrated XRD profiles"},
        // The first TwoTheta field and the first counter win.
        {tth + recorded("2") + recorded("1"), {"1,2,3"}, "1:3"},
        {tth + varying("1", field("TwoTheta")) + recorded("2"), {"1,2,3"}, "1:3"},
        {varying("0", field("Theta") + field("TwoTheta")) + recorded("2"), {},
         "BRML fields exceed declared view length"},
        {view("VaryingRawDataView", "18446744073709551615", "2", field("Theta") + field("TwoTheta")) + recorded("0"),
         {}, "BRML column overflow"},
        {tth, {}, "BRML has no recorded intensity column"},
        // The AxisId decides, unless it is blank; the kind is case-sensitive, its prefix is dropped.
        {varying("0", field(" ", "TwoTheta")) + recorded("1"), {"7,8"}, "7:8"},
        {varying("0", field("Theta", "TwoTheta")) + recorded("1"), {}, no_two_theta},
        {varying("1", field(" TWOtheta ")) + recorded("0"), {"8,7"}, "7:8"},
        {varying("0", field("2Theta")) + recorded("1"), {}, no_two_theta},
        {view("ns:VaryingRawDataView", "0", "1", field("TwoTheta")) + recorded("1"), {"7,8"}, "7:8"},
        {view("varyingRawDataView", "0", "1", field("TwoTheta")) + recorded("1"), {}, no_two_theta},
        // Records: the two wanted fields are read left to right, the others passed over.
        {usual, {"96,1,10,5"}, "BRML datum missing intensity column"},
        {varying("3", field("TwoTheta")) + recorded("0"), {"1,2"}, "BRML datum missing TwoTheta column"},
        {tth + recorded("1"), {"1,,3"}, "invalid numeric value \"\""},
        {varying("1", field("TwoTheta")) + recorded("0"), {"a,b"}, "invalid numeric value \"a\""},
        {usual, {"x, y , 10.5 ,z, 7 \n"}, "10.5:7"}, {tth + recorded("0"), {"4"}, "4:4"},
        {usual, {}, ""}};  // a route without records has no points (the entry point refuses it)
    for (const auto& c : cases) EXPECT_EQ(read_routes(route(c.views, c.records)), c.expected) << c.views;
}

TEST(Brml, RouteChoice) {
    const std::string calculated = route(usual, {"1,1,10,5,1"}, "Calculated"), measured = route(usual, {"1,1,20,5,2"});
    const std::string ambiguous = "BRML requires one unambiguous measured data route";
    check({{calculated + measured, "20:2"}, {measured + calculated, "20:2"}, {calculated, "10:1"},
           {calculated + calculated, ambiguous}, {measured + measured, ambiguous}, {"", ambiguous}},
          read_routes);
}

TEST(Brml, MembersListedByTheContainer) {
    const std::string first = raw(route(usual, {"1,1,10,5,1"}));
    const std::string archive =
        brml("<string>\n  S/Raw0.xml  </string><string> </string></RawDataReferenceList><RawDataReferenceList>"
             "<anything>S/Raw1.xml</anything><string>S/Missing.xml</string>",
             {{"S/Raw0.xml", first}, {"S/Raw1.xml", raw(route(usual, {"1,1,20,5,2"}))}});
    check({{"0", "10:1"}, {"1", "20:2"}, {"2", "File not found in archive: S/Missing.xml"},
           {"3", "scan 3 is out of range (3 scans)"}},
          [&](const std::string& index) { return read(archive, std::stoul(index)); });
    // The container is found by its name's suffix.
    EXPECT_EQ(read(brml("<string>R.xml</string>", {{"R.xml", first}}, "xDataContainer.xml")), "10:1");
    EXPECT_EQ(read(brml("<string>R.xml</string>", {{"R.xml", first}}, "E/datacontainer.xml")),
              "BRML missing DataContainer.xml");
}

}  // namespace
}  // namespace difrax::xml
