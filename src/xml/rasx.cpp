// Rigaku RASX: a ZIP container whose root.xml lists the data folders (Data0,
// Data1, ...). Each folder names its files in ContentHashList elements: a
// text profile, one point per line (2theta, intensity and often an attenuation
// column), and usually an XML document of measurement conditions, whose
// AxisName tells which axis was scanned.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/fail.hpp"
#include "load/points.hpp"
#include "parser/decode.hpp"
#include "text/rules.hpp"
#include "text/unicode.hpp"
#include "xml/archive.hpp"
#include "xml/readers.hpp"
#include "xml/tree.hpp"

namespace difrax::xml {

// Rigaku writes the coupled 2theta scans under several labels; the omega
// and theta scans it also writes are refused.
Result<void> check_rigaku_axis(std::string_view label) {
    static constexpr std::array<std::string_view, 7> accepted = {
        "2theta", "2thetaw", "twotheta", "2thetatheta", "2thetaomega", "twothetatheta", "twothetaomega"};
    if (std::ranges::find(accepted, axis_key(label)) != accepted.end()) return {};
    return parse_error("scan axis " + text::quoted(label) + " is not a supported 2theta scan");
}

namespace {

// One measurement: the paths of its profile and of its conditions document.
struct Entry {
    std::string profile;
    std::optional<std::string> conditions;
};

// Data folders are Data followed by digits (Data0, Data12).
bool is_data_folder(std::string_view name) {
    constexpr std::string_view prefix = "Data";
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
    return std::ranges::all_of(name.substr(prefix.size()), [](char c) { return c >= '0' && c <= '9'; });
}

// The folder's profile and conditions document, told apart by their file
// names; a folder without a profile holds no measurement.
std::optional<Entry> folder_entry(const Element& folder) {
    std::optional<std::string_view> profile;
    std::optional<std::string_view> conditions;
    for (const Element& item : folder.children) {
        if (item.name != "ContentHashList") continue;
        std::optional<std::string_view> file = item.attr("Name");
        if (!file) continue;
        std::string lower = text::lower(*file);
        if (!profile && lower.ends_with(".txt")) profile = file;
        if (!conditions && lower.ends_with(".xml") && lower.find("conditions") != std::string::npos)
            conditions = file;
    }
    if (!profile) return std::nullopt;
    Entry entry{folder.name + "/" + std::string(*profile), std::nullopt};
    if (conditions) entry.conditions = folder.name + "/" + std::string(*conditions);
    return entry;
}

// The measurements that root.xml lists, in document order.
Result<std::vector<Entry>> listed_entries(const Archive& archive) {
    auto root = member_document(archive, "root.xml");
    if (!root) return std::unexpected(std::move(root.error()));
    std::vector<Entry> entries;
    for (const Element& folder : root->children)
        if (is_data_folder(folder.name))
            if (std::optional<Entry> entry = folder_entry(folder)) entries.push_back(std::move(*entry));
    return entries;
}

// The measurement at `index` among those root.xml lists.
Result<Entry> listed_entry(const Archive& archive, std::uint64_t index) {
    auto listed = listed_entries(archive);
    if (!listed) return std::unexpected(std::move(listed.error()));
    std::vector<Entry>& entries = *listed;
    if (index >= entries.size())
        return parse_error("scan " + std::to_string(index) + " is out of range (" + std::to_string(entries.size()) +
                           " scans)");
    return std::move(entries[index]);
}

// The first element of the name in pre-order, `scope` included.
const Element* first(const Element& scope, std::string_view name) {
    std::vector<const Element*> found = scope.all(name);
    return found.empty() ? nullptr : found.front();
}

// The scan axis named in the conditions document, where it names one.
Result<void> check_scan_axis(const Archive& archive, const std::string& conditions) {
    auto root = member_document(archive, conditions);
    if (!root) return std::unexpected(std::move(root.error()));
    const Element* scan = first(*root, "ScanInformation");
    const Element* axis = first(scan ? *scan : *root, "AxisName");
    if (!axis) return {};
    return check_rigaku_axis(text::trim(axis->text));
}

// One point per non-blank line: 2theta and intensity are its first two
// words, anything after them is left unread.
Result<Points> profile_points(std::string_view profile) {
    Points points;
    const std::size_t lines = text::expected_rows(profile);
    reserve_values(points.x, lines);
    reserve_values(points.y, lines);
    const char* p = profile.data();
    const char* const end = p + profile.size();
    while (p != end) {
        double angle, intensity;
        if (text::quick_row<false>(p, end, angle, intensity)) {
            points.x.push_back(angle);
            points.y.push_back(intensity);
            continue;
        }
        text::Words words(text::take_line(p, end));
        std::string_view word;
        if (!words.next(word)) continue;
        auto x = number(word);
        if (!x) return std::unexpected(std::move(x.error()));
        if (!words.next(word)) return parse_error("RASX missing intensity");
        auto y = number(word);
        if (!y) return std::unexpected(std::move(y.error()));
        points.x.push_back(*x);
        points.y.push_back(*y);
    }
    return points;
}

Result<Points> read_profile(const Archive& archive, const std::string& path) {
    auto bytes = archive.member(path);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    auto profile = decode(*bytes);
    if (!profile) return std::unexpected(std::move(profile.error()));
    return profile_points(profile->view());
}

}  // namespace

Result<Points> parse_rasx(std::span<const std::byte> data, std::uint64_t index) {
    auto archive = Archive::open(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    auto entry = listed_entry(*archive, index);
    if (!entry) return std::unexpected(std::move(entry.error()));
    if (entry->conditions) {
        auto axis = check_scan_axis(*archive, *entry->conditions);
        if (!axis) return std::unexpected(std::move(axis.error()));
    }
    return read_profile(*archive, entry->profile);
}

Result<std::uint64_t> count_rasx_scans(std::span<const std::byte> data) {
    auto archive = Archive::open(data);
    if (!archive) return std::unexpected(std::move(archive.error()));
    auto entries = listed_entries(*archive);
    if (!entries) return std::unexpected(std::move(entries.error()));
    return entries->size();
}

}  // namespace difrax::xml
