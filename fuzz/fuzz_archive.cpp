// ZIP member access and the two container readers on top of it. Byte 0
// picks the index for BRML and RASX, the rest is the archive. Members are
// first read with a small cap so that a fuzzed bomb costs little; the
// readers then apply their own 256 MiB cap.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.hpp"
#include "xml/archive.hpp"
#include "xml/readers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace difrax;
    if (size < 1) return 0;
    const auto file = fuzz::bytes(data + 1, size - 1);
    const std::uint64_t index = fuzz::index_from(data[0]);

    auto archive = xml::Archive::open(file);
    if (!archive) return 0;
    auto names = archive->names();
    std::size_t visited = 0;
    for (const std::string& name : names) {
        if (++visited > 16) break;
        auto content = archive->member(name, 1u << 20);
        if (content) fuzz::require(content->size() < (1u << 20));
    }
    (void)archive->member("root.xml", 1u << 20);

    auto brml = xml::parse_brml(file, index);
    if (brml) fuzz::check_points(*brml);
    auto rasx = xml::parse_rasx(file, index);
    if (rasx) fuzz::check_points(*rasx);
    return 0;
}
