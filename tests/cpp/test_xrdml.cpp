// The XRDML reader: scan selection over measurements, axis and unit checks,
// the 2Theta position rules and attenuation factors.
#include "support.hpp"
#include "xml/readers.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;

// A dataPoints element: an Omega axis, then the given positions and intensities.
std::string points(const std::string& positions, const std::string& intensities = "<counts>1 2 3</counts>") {
    return "<p:dataPoints><p:positions axis=\"Omega\" unit=\"deg\"><p:startPosition>1</p:startPosition>"
           "<p:endPosition>2</p:endPosition></p:positions>" + positions + intensities + "</p:dataPoints>";
}
// 2Theta positions stepped from `start` to `end`.
std::string stepped(const std::string& start, const std::string& end, const std::string& unit = "deg") {
    return "<p:positions axis=\"2Theta\" unit=\"" + unit + "\"><p:startPosition>" + start +
           "</p:startPosition><p:endPosition>" + end + "</p:endPosition></p:positions>";
}
std::string scan(const std::string& data_points, const std::string& scan_axis = "Gonio") {
    return "<p:scan scanAxis=\"" + scan_axis + "\" status=\"Completed\"><p:header/>" + data_points + "</p:scan>";
}
std::string measurement(const std::string& scans) { return "<p:xrdMeasurement>" + scans + "</p:xrdMeasurement>"; }
std::string document(const std::string& measurements) {
    return "<?xml version=\"1.0\"?><p:xrdMeasurements xmlns:p=\"http://www.xrdml.com/XRDMeasurement/2.1\">" +
           measurements + "</p:xrdMeasurements>";
}
// One measurement with one scan of the given dataPoints content.
std::string single(const std::string& data_points, const std::string& scan_axis = "Gonio") {
    return document(measurement(scan(data_points, scan_axis)));
}

// The points, or the error without its "Parse error: ".
std::string read(const std::string& xml, std::uint64_t index = 0) {
    const std::string text = outcome(parse_xrdml(bytes_of(xml), index));
    return text.starts_with("Parse error: ") ? text.substr(13) : text;
}

TEST(Xrdml, ScansAreNumberedOverAllMeasurements) {
    auto from = [](int first) { return scan(points(stepped(std::to_string(first), "100"))); };
    const std::string xml =
        document(from(-1) + measurement(from(0) + from(1)) + "<p:sample/>" + measurement(from(2) + from(3)));
    for (int index = 0; index < 4; ++index)
        EXPECT_TRUE(read(xml, index).starts_with(std::to_string(index) + ":1 ")) << index;
    EXPECT_EQ(read(xml, 4), "scan 4 is out of range (4 scans)");
    EXPECT_EQ(read(document(measurement("") + from(0))), "scan 0 is out of range (0 scans)");
    EXPECT_EQ(read("<xrdMeasurement/>"), "not an XRDML measurement");
}

TEST(Xrdml, ScanAxisMustMoveTwoTheta) {
    const std::string twelve = points(stepped("10", "12"));
    for (const char* axis : {"Gonio", "2Theta", "Two-Theta", "Omega-Theta", "2Theta-Omega", "Omega_2Theta",
                             "2theta-theta", "Omega-TwoTheta", "2 THETA"})
        EXPECT_EQ(read(single(twelve, axis)), "10:1 11:2 12:3") << axis;
    // Attribute values arrive normalised: the tab is a space by then.
    EXPECT_EQ(read(single(twelve, "2Theta\tChi")), "XRDML scan axis \"2Theta Chi\" is not 2theta");
    EXPECT_EQ(read(single(twelve, "Omega")), "XRDML scan axis \"Omega\" is not 2theta");
    // Without scanAxis any scan is read.
    EXPECT_EQ(read(document(measurement("<scan>" + twelve + "</scan>"))), "10:1 11:2 12:3");
}

TEST(Xrdml, DataPoints) {
    const std::string attenuation = "XRDML attenuation factors must be positive and match intensity length";
    const std::string one_two = stepped("1", "2");
    auto two = [&](const std::string& factors, const std::string& values = "<counts>1 2</counts>") {
        return points(one_two, values + "<beamAttenuationFactors>" + factors + "</beamAttenuationFactors>");
    };
    auto positions = [](const std::string& content, const std::string& counts = "1 2 3") {
        return points("<positions axis=\"2Theta\">" + content + "</positions>", "<counts>" + counts + "</counts>");
    };
    const std::string start_end = "<startPosition>1</startPosition><endPosition>3</endPosition>";
    check({{"<p:other/>", "XRDML scan has no dataPoints"},
           {points(one_two, "<intensity>1</intensity>"), "XRDML missing intensities/counts"},
           {points(one_two, "<counts> \n </counts>"), "XRDML has no intensity points"},
           {points(one_two, "<counts>1 two 3</counts>"), "invalid numeric value \"two\""},
           {points("<positions axis=\"2theta\"><listPositions>1 2 3</listPositions></positions>"),
            "XRDML missing 2Theta positions"},
           {points(stepped("1", "2", " deg")), "XRDML 2Theta unit \" deg\" is not degrees"},
           {points(stepped("1", "1e999")), "non-finite numeric value"},
           // Listed positions win over a start/end pair, which wins over a fixed position.
           {positions("<commonPosition>9</commonPosition>" + start_end + "<listPositions>4 5.5 7</listPositions>"),
            "4:1 5.5:2 7:3"},
           {positions("<listPositions>1 2</listPositions>"), "XRDML position/intensity lengths differ"},
           {positions("<commonPosition>9</commonPosition>" + start_end), "1:1 2:2 3:3"},
           // The span is divided last: i * (0.9 / 5) would end at 0.8999999999999999.
           {positions("<startPosition>0</startPosition><endPosition>0.9</endPosition>", "1 2 3 4 5 6"),
            "0:1 0.18:2 0.36:3 0.54:4 0.72:5 0.9:6"},
           // A single point takes the start, or else the fixed position.
           {positions("<startPosition>30</startPosition><endPosition>10</endPosition>", "5"), "30:5"},
           {positions("<commonPosition> 42.5 </commonPosition>", "5"), "42.5:5"},
           {positions("<startPosition>1</startPosition><commonPosition>5</commonPosition>"),
            "XRDML has a fixed or missing 2Theta axis, not a powder profile"},
           {positions("<endPosition>5</endPosition>", "7"), "XRDML missing stepped 2Theta positions"},
           // The 2Theta positions are found whatever their place among the axes; the unit is any spelling of degrees.
           {"<dataPoints>" + stepped("1", "3", "Degrees") + "<positions axis=\"Omega\"><listPositions>9 8 7"
                "</listPositions></positions><counts>1 2 3</counts></dataPoints>",
            "1:1 2:2 3:3"},
           {points(stepped("1", "3", "\u00B0")), "1:1 2:2 3:3"},
           // Attenuation factors scale raw counts only, but are checked in any case.
           {two("1 10"), "1:1 2:20"},
           {two("1 10", "<counts>100 200</counts><intensities>3 4</intensities>"), "1:3 2:4"},
           {two("1 0"), attenuation}, {two("1 1 1"), attenuation}, {two("1 nan"), "non-finite numeric value"},
           {two("1 -2", "<intensities>1 2</intensities>"), attenuation}},
          [](const std::string& data_points) { return read(single(data_points)); });
}

}  // namespace
}  // namespace difrax::xml
