#include <fstream>
#include <sstream>

#include "support.hpp"

namespace difrax::testing {

std::optional<std::filesystem::path> corpus_dir() {
    std::filesystem::path p = DIFRAX_CORPUS_DIR;
    if (std::filesystem::is_directory(p)) return p;
    return std::nullopt;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace difrax::testing
