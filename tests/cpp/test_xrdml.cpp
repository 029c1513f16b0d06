// The XRDML reader: scan selection over measurements, axis and unit checks,
// the 2Theta position rules and attenuation factors.
#include "support.hpp"
#include "xml/readers.hpp"

namespace difrax::xml {
namespace {

using namespace difrax::testing;

// A dataPoints element: an Omega axis, then the given positions and intensities.
std::string points(std::string_view positions, std::string_view intensities = "<counts>1 2 3</counts>") {
    return "<p:dataPoints><p:positions axis=\"Omega\" unit=\"deg\"><p:startPosition>1</p:startPosition>"
           "<p:endPosition>2</p:endPosition></p:positions>" +
           std::string(positions) + std::string(intensities) + "</p:dataPoints>";
}

std::string stepped(std::string_view start, std::string_view end, std::string_view unit = "deg") {
    return "<p:positions axis=\"2Theta\" unit=\"" + std::string(unit) + "\"><p:startPosition>" + std::string(start) +
           "</p:startPosition><p:endPosition>" + std::string(end) + "</p:endPosition></p:positions>";
}

std::string scan(std::string_view data_points, std::string_view scan_axis = "Gonio") {
    return "<p:scan scanAxis=\"" + std::string(scan_axis) + "\" status=\"Completed\"><p:header/>" +
           std::string(data_points) + "</p:scan>";
}

std::string document(std::string_view measurements) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:xrdMeasurements "
           "xmlns:p=\"http://www.xrdml.com/XRDMeasurement/2.1\" status=\"Completed\">" +
           std::string(measurements) + "</p:xrdMeasurements>";
}

std::string measurement(std::string_view scans) {
    return "<p:xrdMeasurement measurementType=\"Scan\"><p:comment/>" + std::string(scans) + "</p:xrdMeasurement>";
}

// One measurement with one scan of the given dataPoints content.
std::string single(std::string_view data_points, std::string_view scan_axis = "Gonio") {
    return document(measurement(scan(data_points, scan_axis)));
}

std::string read(const std::string& xml, std::uint64_t index = 0) { return outcome(parse_xrdml(bytes_of(xml), index)); }

TEST(Xrdml, ScansAreNumberedOverAllMeasurements) {
    auto two = [](int first) {
        return measurement(scan(points(stepped(std::to_string(first), "100"))) +
                           scan(points(stepped(std::to_string(first + 1), "100"))));
    };
    const std::string stray = scan(points(stepped("-1", "100")));
    const std::string xml = document(stray + two(0) + "<p:sample/>" + two(2));
    for (int index = 0; index < 4; ++index)
        EXPECT_TRUE(read(xml, index).starts_with(std::to_string(index) + ":1 ")) << index;
    EXPECT_EQ(read(xml, 4), "Parse error: scan 4 is out of range (4 scans)");
    EXPECT_EQ(read(document(measurement("") + stray)), "Parse error: scan 0 is out of range (0 scans)");
    EXPECT_EQ(read("<xrdMeasurement/>"), "Parse error: not an XRDML measurement");
    EXPECT_EQ(read("<a><b>"), "Parse error: truncated XML document");
}

TEST(Xrdml, ScanAxisMustMoveTwoTheta) {
    for (const char* axis : {"Gonio", "2Theta", "Two-Theta", "Omega-Theta", "2Theta-Omega", "Omega_2Theta",
                             "2theta-theta", "Omega-TwoTheta", "2 THETA"})
        EXPECT_EQ(read(single(points(stepped("10", "12")), axis)), "10:1 11:2 12:3") << axis;
    check({{"Omega", "Parse error: XRDML scan axis \"Omega\" is not 2theta"},
           {"Phi", "Parse error: XRDML scan axis \"Phi\" is not 2theta"},
           // Attribute values arrive normalised: the tab is a space by then.
           {"2Theta\tChi", "Parse error: XRDML scan axis \"2Theta Chi\" is not 2theta"}},
          [](const std::string& axis) { return read(single(points(stepped("10", "12")), axis)); });
    // Without scanAxis any scan is read.
    EXPECT_EQ(read(document(measurement("<scan>" + points(stepped("10", "12")) + "</scan>"))), "10:1 11:2 12:3");
}

TEST(Xrdml, DataPoints) {
    const std::string attenuation =
        "Parse error: XRDML attenuation factors must be positive and match intensity length";
    auto two = [](std::string_view factors) {
        return points(stepped("1", "2"), "<counts>1 2</counts><beamAttenuationFactors>" + std::string(factors) +
                                             "</beamAttenuationFactors>");
    };
    auto positions = [](std::string_view content, std::string_view counts = "<counts>1 2 3</counts>") {
        return points("<positions axis=\"2Theta\">" + std::string(content) + "</positions>", counts);
    };
    check({{"<p:other/>", "Parse error: XRDML scan has no dataPoints"},
           {points(stepped("1", "2"), "<intensity>1</intensity>"), "Parse error: XRDML missing intensities/counts"},
           {points(stepped("1", "2"), "<counts> \n </counts>"), "Parse error: XRDML has no intensity points"},
           {points(stepped("1", "2"), "<counts>1 two 3</counts>"), "Parse error: invalid numeric value \"two\""},
           {points("<positions axis=\"2theta\"><listPositions>1 2 3</listPositions></positions>"),
            "Parse error: XRDML missing 2Theta positions"},
           {points(stepped("1", "2", "rad")), "Parse error: XRDML 2Theta unit \"rad\" is not degrees"},
           {points(stepped("1", "2", "\u00B02\u03B8")),
            "Parse error: XRDML 2Theta unit \"\u00B02\u03B8\" is not degrees"},
           {points(stepped("1", "2", " deg")), "Parse error: XRDML 2Theta unit \" deg\" is not degrees"},
           {points(stepped("1", "1e999")), "Parse error: non-finite numeric value"},
           // Listed positions win over a start/end pair, which wins over a fixed position.
           {positions("<commonPosition>9</commonPosition><startPosition>1</startPosition><endPosition>3</endPosition>"
                      "<listPositions>4 5.5 7</listPositions>"), "4:1 5.5:2 7:3"},
           {positions("<listPositions>1 2</listPositions>"), "Parse error: XRDML position/intensity lengths differ"},
           {positions("<commonPosition>9</commonPosition><startPosition>1</startPosition><endPosition>3</endPosition>"),
            "1:1 2:2 3:3"},
           {positions("<startPosition>30</startPosition><endPosition>10</endPosition>", "<counts>5</counts>"), "30:5"},
           {positions("<commonPosition> 42.5 </commonPosition>", "<counts>5</counts>"), "42.5:5"},
           {positions("<startPosition>1</startPosition><commonPosition>5</commonPosition>"),
            "Parse error: XRDML has a fixed or missing 2Theta axis, not a powder profile"},
           {positions("<endPosition>5</endPosition>", "<counts>7</counts>"),
            "Parse error: XRDML missing stepped 2Theta positions"},
           // The 2Theta positions are found whatever their place among the axes; the unit is any spelling of degrees.
           {"<dataPoints>" + stepped("1", "3", "Degrees") + "<positions axis=\"Omega\"><listPositions>9 8 7"
                "</listPositions></positions><counts>1 2 3</counts></dataPoints>",
            "1:1 2:2 3:3"},
           {points(stepped("1", "3", "DEG")), "1:1 2:2 3:3"}, {points(stepped("1", "3", "\u00B0")), "1:1 2:2 3:3"},
           // Attenuation factors scale raw counts only.
           {two("1 10"), "1:1 2:20"},
           {points(stepped("1", "2"), "<counts>100 200</counts><intensities>3 4</intensities>"
                                      "<beamAttenuationFactors>1 10</beamAttenuationFactors>"), "1:3 2:4"},
           {points(stepped("1", "2"), "<intensities>3 4</intensities><counts>100 200</counts>"
                                      "<beamAttenuationFactors>1 10</beamAttenuationFactors>"), "1:3 2:4"},
           {two("1 0"), attenuation}, {two("1 1 1"), attenuation}, {two(""), attenuation},
           {two("1 nan"), "Parse error: non-finite numeric value"},
           {points(stepped("1", "2"),
                   "<intensities>1 2</intensities><beamAttenuationFactors>1 -2</beamAttenuationFactors>"),
            attenuation}},
          [](const std::string& data_points) { return read(single(data_points)); });
}

TEST(Xrdml, SteppedPositionsDivideTheSpanLast) {
    const std::string seven = "<counts>1 2 3 4 5 6 7</counts>";
    std::vector<double> x;
    for (int i = 0; i < 7; ++i) x.push_back((0.7 * i) / 6.0);
    ASSERT_NE(x[3], 3.0 * (0.7 / 6.0));  // the order of the operations shows
    EXPECT_EQ(read(single(points(stepped("0", "0.7"), seven))),
              points_text(x, std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
    // A descending scan is turned round with its intensities by the entry point.
    EXPECT_EQ(outcome(load(single(points(stepped("20", "10"))), "scan.xrdml")), "10:3 15:2 20:1");
    EXPECT_EQ(outcome(load(single(points(stepped("5", "5"))))),
              "Parse error: x values must be finite and strictly increasing");
}

}  // namespace
}  // namespace difrax::xml
