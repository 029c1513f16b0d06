#include <fstream>
#include <sstream>

#include "support.hpp"

namespace difrax::testing {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace difrax::testing
