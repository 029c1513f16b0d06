// Bruker BRML: a ZIP container whose DataContainer.xml lists the raw data
// members, one XML document per measurement. In a raw data document the
// measured DataRoute holds one Datum per step, a comma-separated record whose
// columns are declared by the route's RawDataView elements: varying views
// carry the scan axes (one FieldDefinitions per column), recorded views the
// detector counts.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/fail.hpp"
#include "load/points.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"
#include "xml/archive.hpp"
#include "xml/readers.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {
namespace {

constexpr std::string_view container_suffix = "DataContainer.xml";

// The first member, in directory order, that is the data container.
std::optional<std::string> container_name(const Archive& archive) {
    for (std::string& name : archive.names())
        if (name.ends_with(container_suffix)) return std::move(name);
    return std::nullopt;
}

// The raw data members the container lists, in document order.
std::vector<std::string> raw_data_members(const Element& container) {
    std::vector<std::string> names;
    for (const Element* list : container.all("RawDataReferenceList"))
        for (const Element& entry : list->children) {
            std::string_view name = text::trim(entry.text);
            if (!name.empty()) names.emplace_back(name);
        }
    return names;
}

// The raw data members that the data container lists.
Result<std::vector<std::string>> listed_members(const Archive& archive) {
    std::optional<std::string> container = container_name(archive);
    if (!container) return parse_error("BRML missing DataContainer.xml");
    auto tree = member_document(archive, *container);
    if (!tree) return std::unexpected(std::move(tree.error()));
    return raw_data_members(*tree);
}

// The name of the raw data member the container lists at `index`.
Result<std::string> listed_member(const Archive& archive, std::uint64_t index) {
    auto listed = listed_members(archive);
    if (!listed) return std::unexpected(std::move(listed.error()));
    std::vector<std::string>& names = *listed;
    if (index >= names.size())
        return parse_error("scan " + std::to_string(index) + " is out of range (" + std::to_string(names.size()) +
                           " scans)");
    return std::move(names[index]);
}

// The one route flagged as measured, or else the only route there is.
Result<const Element*> measured_route(const Element& raw) {
    std::vector<const Element*> routes = raw.all("DataRoute");
    const Element* measured = nullptr;
    std::size_t flagged = 0;
    for (const Element* route : routes)
        if (route->attr("RouteFlag") == "Measured") {
            measured = route;
            ++flagged;
        }
    if (flagged == 1) return measured;
    if (routes.size() == 1) return routes.front();
    return parse_error("BRML requires one unambiguous measured data route");
}

// A view's Start or Length: an unsigned decimal, written without blanks.
Result<std::uint64_t> index(std::optional<std::string_view> attribute) {
    if (!attribute) return parse_error("missing column Start/Length");
    std::optional<std::uint64_t> value = text::unsigned_decimal(*attribute);
    if (!value) return parse_error("invalid column Start/Length");
    return *value;
}

// The view kind without its namespace prefix (xsi:type="RecordedRawDataView").
std::string_view view_kind(const Element& view) {
    std::string_view type = view.attr("type").value_or("");
    std::size_t colon = type.rfind(':');
    return colon == std::string_view::npos ? type : type.substr(colon + 1);
}

// A field's axis: its AxisId, unless that is blank, else its FieldName.
std::string_view field_axis(const Element& field) {
    std::optional<std::string_view> axis = field.attr("AxisId");
    if (!axis || text::trim(*axis).empty()) axis = field.attr("FieldName");
    return text::trim(axis.value_or(""));
}

bool is_two_theta(std::string_view axis) { return axis.size() == 8 && text::ascii_lower(axis) == "twotheta"; }

struct Columns {
    std::uint64_t two_theta;
    std::uint64_t intensity;
};

// Which record columns hold 2theta and the counts: the first TwoTheta field
// of a varying view and the first recorded view. A recorded view spanning
// several columns is a detector frame, which is never integrated here.
Result<Columns> columns(const Element& route) {
    std::optional<std::uint64_t> two_theta;
    std::optional<std::uint64_t> intensity;
    for (const Element* view : route.all("RawDataView")) {
        auto start = index(view->attr("Start"));
        if (!start) return std::unexpected(std::move(start.error()));
        auto length = index(view->attr("Length"));
        if (!length) return std::unexpected(std::move(length.error()));
        std::string_view kind = view_kind(*view);
        if (kind == "RecordedRawDataView") {
            if (*length != 1) return parse_error("BRML detector frames are not integrated XRD profiles");
            if (!intensity) intensity = *start;
        } else if (kind == "VaryingRawDataView") {
            std::vector<const Element*> fields = view->all("FieldDefinitions");
            if (*length < fields.size()) return parse_error("BRML fields exceed declared view length");
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (two_theta || !is_two_theta(field_axis(*fields[i]))) continue;
                if (*start > std::numeric_limits<std::uint64_t>::max() - i) return parse_error("BRML column overflow");
                two_theta = *start + i;
            }
        }
    }
    if (!two_theta) return parse_error("BRML has no varying TwoTheta column");
    if (!intensity) return parse_error("BRML has no recorded intensity column");
    return Columns{*two_theta, *intensity};
}

// Reads the two wanted fields of one comma-separated record, in the order
// they stand; the other fields are passed over unread.
Result<void> read_record(std::string_view record, Columns at, std::vector<double>& x, std::vector<double>& y) {
    std::optional<double> two_theta;
    std::optional<double> intensity;
    const std::uint64_t last = std::max(at.two_theta, at.intensity);
    std::uint64_t column = 0;
    for (std::size_t from = 0; column <= last; ++column) {
        std::size_t comma = record.find(',', from);
        std::string_view field = record.substr(from, comma == std::string_view::npos ? comma : comma - from);
        if (column == at.two_theta || column == at.intensity) {
            auto value = number(field);
            if (!value) return std::unexpected(std::move(value.error()));
            if (column == at.two_theta) two_theta = *value;
            if (column == at.intensity) intensity = *value;
        }
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    if (!two_theta) return parse_error("BRML datum missing TwoTheta column");
    if (!intensity) return parse_error("BRML datum missing intensity column");
    x.push_back(*two_theta);
    y.push_back(*intensity);
    return {};
}

// One point per Datum of the route, in document order.
Result<Points> records(const Element& route, const Gathered& data, Columns at) {
    Points points;
    reserve_values(points.x, route.gathered_last - route.gathered_first);
    reserve_values(points.y, route.gathered_last - route.gathered_first);
    for (std::size_t i = route.gathered_first; i < route.gathered_last; ++i) {
        auto read = read_record(data.text(i), at, points.x, points.y);
        if (!read) return std::unexpected(std::move(read.error()));
    }
    return points;
}

}  // namespace

Result<Points> parse_brml(std::span<const std::byte> data, std::uint64_t index) {
    auto archive = Archive::open(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    auto name = listed_member(*archive, index);
    if (!name) return std::unexpected(std::move(name.error()));
    // A scan holds one Datum per step: those are gathered as texts alone.
    auto raw = member_document(*archive, *name, "Datum");
    if (!raw) return std::unexpected(std::move(raw.error()));
    auto route = measured_route(raw->root);
    if (!route) return std::unexpected(std::move(route.error()));
    auto at = columns(**route);
    if (!at) return std::unexpected(std::move(at.error()));
    return records(**route, raw->gathered, *at);
}

Result<std::uint64_t> count_brml_scans(std::span<const std::byte> data) {
    auto archive = Archive::open(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    auto names = listed_members(*archive);
    if (!names) return std::unexpected(std::move(names.error()));
    return names->size();
}

}  // namespace difrax::xml
