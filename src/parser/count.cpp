// How many patterns a file holds: what `ReadOptions::index` counts in each
// format. Single-pattern formats hold one.
#include "bruker/raw.hpp"
#include "difrax/difrax.hpp"
#include "text/readers.hpp"
#include "xml/readers.hpp"

namespace difrax {

Result<std::uint64_t> count_patterns(std::span<const std::byte> data, Format format) {
    switch (format) {
    case Format::Xy:
    case Format::Chi:
    case Format::PdCif: return 1;
    case Format::Ras: return text::count_ras_scans(data);
    case Format::Uxd: return text::count_uxd_scans(data);
    case Format::Gsas: return text::count_gsas_banks(data);
    case Format::BrukerRaw: return bruker::count_ranges(data);
    case Format::Xrdml: return xml::count_xrdml_scans(data);
    case Format::Brml: return xml::count_brml_scans(data);
    case Format::Rasx: return xml::count_rasx_scans(data);
    }
    return 1;
}

}  // namespace difrax
