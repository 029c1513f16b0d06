#include <fstream>
#include <iterator>

#include "support.hpp"

namespace difrax::testing {

std::optional<std::filesystem::path> corpus_dir() {
    std::filesystem::path p = DIFRAX_CORPUS_DIR;
    if (std::filesystem::is_directory(p)) return p;
    return std::nullopt;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace difrax::testing
