// How many patterns a file holds: what `ReadOptions::index` counts in each
// format. Single-pattern formats hold one.
#include "bruker/raw.hpp"
#include "difrax/difrax.hpp"
#include "parser/decode.hpp"
#include "text/readers.hpp"
#include "xml/readers.hpp"

namespace difrax {

Result<std::uint64_t> count_patterns(std::span<const std::byte> data, Format format) {
    switch (format) {
    case Format::Xy:
    case Format::Chi:
    case Format::PdCif: return 1;
    case Format::Ras:
    case Format::Uxd:
    case Format::Gsas:
    case Format::Xrdml: {
        auto decoded = decode(data);
        if (!decoded) return std::unexpected(std::move(decoded.error()));
        const std::string_view content = decoded->view();
        if (format == Format::Xrdml) return xml::count_xrdml_scans(content);
        return format == Format::Ras   ? text::count_ras_scans(content)
               : format == Format::Uxd ? text::count_uxd_scans(content)
                                       : text::count_gsas_banks(content);
    }
    case Format::BrukerRaw: return bruker::count_ranges(data);
    case Format::Brml: return xml::count_brml_scans(data);
    case Format::Rasx: return xml::count_rasx_scans(data);
    }
    return 1;
}

}  // namespace difrax
