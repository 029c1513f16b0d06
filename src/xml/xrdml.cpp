// PANalytical XRDML: an xrdMeasurements document holding one or more
// xrdMeasurement elements, each with scans. A scan's dataPoints carry the
// intensities (or raw counts), the positions of every axis (the 2Theta axis
// listed point by point, stepped from a start to an end, or fixed) and,
// optionally, the beam attenuation factors by which raw counts are scaled.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/fail.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"
#include "xml/readers.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {
namespace {

// The document's tree, when its root is an XRDML measurement.
Result<Element> measurement_document(std::span<const std::byte> data) {
    auto root = document(data);
    if (!root) return std::unexpected(root.error());
    if (root->name != "xrdMeasurements") return parse_error("not an XRDML measurement");
    return root;
}

// Scans are numbered over all measurements of the document, in order.
std::vector<const Element*> scans_of(const Element& root) {
    std::vector<const Element*> scans;
    for (const Element& measurement : root.children) {
        if (measurement.name != "xrdMeasurement") continue;
        for (const Element& scan : measurement.children)
            if (scan.name == "scan") scans.push_back(&scan);
    }
    return scans;
}

// Scan axes that move 2theta (alone or coupled with omega or theta).
bool is_two_theta_scan(std::string_view scan_axis) {
    constexpr std::array<std::string_view, 8> keys{"gonio",       "2theta",       "twotheta",    "omegatheta",
                                                   "2thetaomega", "omega2theta", "2thetatheta", "omegatwotheta"};
    std::string key = axis_key(scan_axis);
    for (std::string_view k : keys)
        if (key == k) return true;
    return false;
}

bool is_degrees(std::string_view unit) {
    std::string u = text::lower(unit);
    return u == "\u00B0" || u == "deg" || u == "degree" || u == "degrees";
}

// Raw counts are scaled by the beam attenuation factors; values under
// intensities stand as they are.
struct Intensities {
    const Element* element;
    bool raw_counts;
};

std::optional<Intensities> intensity_element(const Element& data_points) {
    if (const Element* e = data_points.child("intensities")) return Intensities{e, false};
    if (const Element* e = data_points.child("counts")) return Intensities{e, true};
    return std::nullopt;
}

const Element* two_theta_positions(const Element& data_points) {
    for (const Element& c : data_points.children)
        if (c.name == "positions" && c.attr("axis") == "2Theta") return &c;
    return nullptr;
}

// Listed positions win over a start/end pair, which wins over a fixed
// position; a fixed position only describes a single point.
Result<std::vector<double>> two_theta(const Element& positions, std::size_t n) {
    if (const Element* list = positions.child("listPositions")) {
        auto x = numbers(list->text);
        if (!x) return x;
        if (x->size() != n) return parse_error("XRDML position/intensity lengths differ");
        return x;
    }
    const Element* start = positions.child("startPosition");
    const Element* end = positions.child("endPosition");
    if (start && end) {
        auto s = number(start->text);
        if (!s) return std::unexpected(s.error());
        auto e = number(end->text);
        if (!e) return std::unexpected(e.error());
        if (n == 1) return std::vector<double>{*s};
        std::vector<double> x(n);
        double span = *e - *s;
        double last = static_cast<double>(n - 1);
        for (std::size_t i = 0; i < n; ++i) x[i] = *s + (span * static_cast<double>(i)) / last;
        return x;
    }
    if (n != 1) return parse_error("XRDML has a fixed or missing 2Theta axis, not a powder profile");
    const Element* common = positions.child("commonPosition");
    if (!common) return parse_error("XRDML missing stepped 2Theta positions");
    auto c = number(common->text);
    if (!c) return std::unexpected(c.error());
    return std::vector<double>{*c};
}

Result<std::vector<double>> attenuation_factors(const Element& factors, std::size_t n) {
    auto f = numbers(factors.text);
    if (!f) return f;
    bool positive = std::ranges::all_of(*f, [](double v) { return v > 0.0; });
    if (f->size() != n || !positive)
        return parse_error("XRDML attenuation factors must be positive and match intensity length");
    return f;
}

}  // namespace

Result<std::uint64_t> count_xrdml_scans(std::span<const std::byte> data) {
    auto root = measurement_document(data);
    if (!root) return std::unexpected(root.error());
    return scans_of(*root).size();
}

Result<Points> parse_xrdml(std::span<const std::byte> data, std::uint64_t index) {
    auto root = measurement_document(data);
    if (!root) return std::unexpected(root.error());

    std::vector<const Element*> scans = scans_of(*root);
    if (index >= scans.size())
        return parse_error("scan " + std::to_string(index) + " is out of range (" + std::to_string(scans.size()) +
                           " scans)");
    const Element& scan = *scans[static_cast<std::size_t>(index)];

    if (auto axis = scan.attr("scanAxis"); axis && !is_two_theta_scan(*axis))
        return parse_error("XRDML scan axis " + text::quoted(*axis) + " is not 2theta");

    const Element* data_points = scan.child("dataPoints");
    if (!data_points) return parse_error("XRDML scan has no dataPoints");

    auto intensities = intensity_element(*data_points);
    if (!intensities) return parse_error("XRDML missing intensities/counts");
    auto y = numbers(intensities->element->text);
    if (!y) return std::unexpected(y.error());
    std::size_t n = y->size();
    if (n == 0) return parse_error("XRDML has no intensity points");

    const Element* positions = two_theta_positions(*data_points);
    if (!positions) return parse_error("XRDML missing 2Theta positions");
    if (auto unit = positions->attr("unit"); unit && !is_degrees(*unit))
        return parse_error("XRDML 2Theta unit " + text::quoted(*unit) + " is not degrees");

    auto x = two_theta(*positions, n);
    if (!x) return std::unexpected(x.error());

    if (const Element* factors = data_points->child("beamAttenuationFactors")) {
        auto f = attenuation_factors(*factors, n);
        if (!f) return std::unexpected(f.error());
        if (intensities->raw_counts)
            for (std::size_t i = 0; i < n; ++i) (*y)[i] *= (*f)[i];
    }
    return Points{std::move(*x), std::move(*y)};
}

}  // namespace difrax::xml
