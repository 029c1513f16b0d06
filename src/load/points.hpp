// What a reader hands back: the points exactly as its file holds them, in file
// order, neither oriented nor validated (the entry points do both).
#pragma once

#include <vector>

#include "difrax/difrax.hpp"

namespace difrax {

struct Points {
    std::vector<double> x;
    std::vector<double> y;
};

}  // namespace difrax
