// The XRDML reader: scan selection over measurements, axis and unit checks,
// the 2Theta position rules, attenuation factors, and the corpus files.
#include <cmath>
#include <sstream>

#include "support.hpp"
#include "xml/readers.hpp"

namespace difrax::xml {
namespace {

using difrax::testing::bytes_of;
using difrax::testing::error_text;
using difrax::testing::vec;

// A dataPoints element: intensities (counts) with the given 2Theta positions.
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

Result<Points> read(const std::string& xml, std::uint64_t index = 0) { return parse_xrdml(bytes_of(xml), index); }

TEST(Xrdml, ScansAreNumberedOverAllMeasurements) {
    auto numbered = [](int first) {
        std::string scans;
        for (int i = first; i < first + 2; ++i) scans += scan(points(stepped(std::to_string(i), "100")));
        return measurement(scans);
    };
    std::string stray = scan(points(stepped("-1", "100")));
    std::string xml = document(stray + numbered(0) + "<p:sample/>" + numbered(2));
    for (std::uint64_t index = 0; index < 4; ++index) {
        auto p = read(xml, index);
        ASSERT_TRUE(p) << error_text(p);
        EXPECT_EQ(p->x.front(), static_cast<double>(index));
    }
    EXPECT_EQ(error_text(read(xml, 4)), "Parse error: scan 4 is out of range (4 scans)");
    EXPECT_EQ(error_text(read(document(measurement("") + stray))), "Parse error: scan 0 is out of range (0 scans)");
    EXPECT_EQ(error_text(read("<xrdMeasurement/>")), "Parse error: not an XRDML measurement");
    EXPECT_EQ(error_text(read("<a><b>")), "Parse error: truncated XML document");
}

TEST(Xrdml, ScanAxisMustMoveTwoTheta) {
    for (std::string_view axis : {"Gonio", "2Theta", "Two-Theta", "Omega-Theta", "2Theta-Omega", "Omega_2Theta",
                                  "2theta-theta", "Omega-TwoTheta", "2 THETA"}) {
        auto p = read(single(points(stepped("10", "12")), axis));
        EXPECT_TRUE(p) << axis << ": " << error_text(p);
    }
    EXPECT_EQ(error_text(read(single(points(stepped("10", "12")), "Omega"))),
              "Parse error: XRDML scan axis \"Omega\" is not 2theta");
    EXPECT_EQ(error_text(read(single(points(stepped("10", "12")), "Phi"))),
              "Parse error: XRDML scan axis \"Phi\" is not 2theta");
    // Attribute values arrive normalised: the tab is a space by then.
    EXPECT_EQ(error_text(read(single(points(stepped("10", "12")), "2Theta\tChi"))),
              "Parse error: XRDML scan axis \"2Theta Chi\" is not 2theta");
    // Without scanAxis any scan is read.
    std::string xml = document(measurement("<scan>" + points(stepped("10", "12")) + "</scan>"));
    EXPECT_TRUE(read(xml));
}

struct Refusal {
    std::string data_points;
    std::string message;
};

class XrdmlRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(XrdmlRefuses, WithTheRightMessage) {
    EXPECT_EQ(error_text(read(single(GetParam().data_points))), "Parse error: " + GetParam().message);
}

const std::string attenuation = "XRDML attenuation factors must be positive and match intensity length";
std::string two(std::string_view factors) {
    return points(stepped("1", "2"), "<counts>1 2</counts><beamAttenuationFactors>" + std::string(factors) +
                                         "</beamAttenuationFactors>");
}
std::string two_theta(std::string_view content, std::string_view counts = "<counts>1 2 3</counts>") {
    return points("<positions axis=\"2Theta\">" + std::string(content) + "</positions>", counts);
}

INSTANTIATE_TEST_SUITE_P(
    DataPoints, XrdmlRefuses,
    ::testing::Values(
        Refusal{"<p:other/>", "XRDML scan has no dataPoints"},
        Refusal{points(stepped("1", "2"), "<intensity>1</intensity>"), "XRDML missing intensities/counts"},
        Refusal{points(stepped("1", "2"), "<counts> \n </counts>"), "XRDML has no intensity points"},
        Refusal{points(stepped("1", "2"), "<counts>1 two 3</counts>"), "invalid numeric value \"two\""},
        Refusal{points("<positions axis=\"2theta\"><listPositions>1 2 3</listPositions></positions>"),
                "XRDML missing 2Theta positions"},
        Refusal{points(stepped("1", "2", "rad")), "XRDML 2Theta unit \"rad\" is not degrees"},
        Refusal{points(stepped("1", "2", "\u00B02\u03B8")), "XRDML 2Theta unit \"\u00B02\u03B8\" is not degrees"},
        Refusal{points(stepped("1", "2", " deg")), "XRDML 2Theta unit \" deg\" is not degrees"},
        Refusal{points(stepped("1", "1e999")), "non-finite numeric value"},
        Refusal{two_theta("<listPositions>1 2</listPositions>"), "XRDML position/intensity lengths differ"},
        Refusal{two_theta("<startPosition>1</startPosition><commonPosition>5</commonPosition>"),
                "XRDML has a fixed or missing 2Theta axis, not a powder profile"},
        Refusal{two_theta("<endPosition>5</endPosition>", "<counts>7</counts>"),
                "XRDML missing stepped 2Theta positions"},
        Refusal{two("1 0"), attenuation}, Refusal{two("1 1 1"), attenuation}, Refusal{two(""), attenuation},
        Refusal{two("1 nan"), "non-finite numeric value"},
        Refusal{points(stepped("1", "2"), "<intensities>1 2</intensities><beamAttenuationFactors>1 -2"
                                          "</beamAttenuationFactors>"),
                attenuation}));

TEST(Xrdml, SteppedPositionsDivideTheSpanLast) {
    std::string counts = "<counts>0 1 2 3 4 5 6 7 8 9 10</counts>";
    auto up = read(single(points(stepped("10", "20"), counts)));
    ASSERT_TRUE(up) << error_text(up);
    for (std::size_t i = 0; i < up->x.size(); ++i) EXPECT_EQ(up->x[i], 10.0 + static_cast<double>(i));

    // The difference times i, then divided: (0.7 * 3) / 6 is not 3 * (0.7 / 6).
    auto p = read(single(points(stepped("0", "0.7"), "<counts>1 2 3 4 5 6 7</counts>")));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->x[3], (0.7 * 3.0) / 6.0);
    EXPECT_NE(p->x[3], 3.0 * (0.7 / 6.0));
    EXPECT_DOUBLE_EQ(p->x[6], 0.7);  // up to rounding

    auto down = read(single(points(stepped("20", "10"), counts)));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->x.front(), 20.0);
    EXPECT_EQ(down->x.back(), 10.0);

    // A descending scan is turned round with its intensities by the entry point.
    auto loaded = testing::load(single(points(stepped("20", "10"), "<counts>1 2 3</counts>")), "scan.xrdml");
    ASSERT_TRUE(loaded) << error_text(loaded);
    EXPECT_EQ(vec(loaded->x()), (std::vector<double>{10, 15, 20}));
    EXPECT_EQ(vec(loaded->y()), (std::vector<double>{3, 2, 1}));

    EXPECT_EQ(error_text(testing::load(single(points(stepped("5", "5"))))),
              "Parse error: x values must be finite and strictly increasing");
}

TEST(Xrdml, PositionRulesTakePrecedenceInOrder) {
    std::string all = "<positions axis=\"2Theta\" unit=\"Degrees\"><commonPosition>9</commonPosition>"
                      "<startPosition>1</startPosition><endPosition>3</endPosition>"
                      "<listPositions>4 5.5 7</listPositions></positions>";
    EXPECT_EQ(read(single(points(all)))->x, (std::vector<double>{4, 5.5, 7}));

    std::string pair = "<positions axis=\"2Theta\" unit=\"DEG\"><commonPosition>9</commonPosition>"
                       "<startPosition>1</startPosition><endPosition>3</endPosition></positions>";
    EXPECT_EQ(read(single(points(pair)))->x, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(read(single(points(stepped("30", "10"), "<counts>5</counts>")))->x, (std::vector<double>{30}));
    std::string fixed =
        "<positions axis=\"2Theta\" unit=\"\u00B0\"><commonPosition> 42.5 </commonPosition></positions>";
    auto one = read(single(points(fixed, "<counts>5</counts>")));
    ASSERT_TRUE(one) << error_text(one);
    EXPECT_EQ(one->x, (std::vector<double>{42.5}));
    EXPECT_EQ(one->y, (std::vector<double>{5}));

    // The 2Theta positions are found whatever their place among the axes.
    std::string first = "<dataPoints>" + stepped("1", "3") +
                        "<positions axis=\"Omega\"><listPositions>9 8 7</listPositions></positions>"
                        "<counts>1 2 3</counts></dataPoints>";
    EXPECT_EQ(read(single(first))->x, (std::vector<double>{1, 2, 3}));
    // Without a unit the axis is in degrees.
    std::string bare = "<positions axis=\"2Theta\"><listPositions>1 2 3</listPositions></positions>";
    EXPECT_TRUE(read(single(points(bare))));
}

TEST(Xrdml, AttenuationScalesRawCountsOnly) {
    std::string factors = "<beamAttenuationFactors>1 10</beamAttenuationFactors>";
    auto counts = read(single(points(stepped("1", "2"), "<counts>100 200</counts>" + factors)));
    ASSERT_TRUE(counts) << error_text(counts);
    EXPECT_EQ(counts->y, (std::vector<double>{100, 2000}));

    for (std::string both : {"<counts>100 200</counts><intensities>3 4</intensities>",
                             "<intensities>3 4</intensities><counts>100 200</counts>"}) {
        auto p = read(single(points(stepped("1", "2"), both + factors)));
        ASSERT_TRUE(p) << error_text(p);
        EXPECT_EQ(p->y, (std::vector<double>{3, 4}));
    }
}

}  // namespace
}  // namespace difrax::xml
