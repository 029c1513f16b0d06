// What a reader hands back: the points exactly as its file holds them, in file
// order, neither oriented nor validated (the entry points do both).
#pragma once

#include <cstddef>
#include <vector>

#include "difrax/difrax.hpp"

namespace difrax {

struct Points {
    std::vector<double> x;
    std::vector<double> y;
};

// Room for `n` values. Large rooms are asked to be backed by huge pages where
// the system offers them (as large file buffers are): 10^6 points then fill a
// handful of pages instead of faulting in thousands.
void reserve_values(std::vector<double>& values, std::size_t n);

}  // namespace difrax
