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
    // Set by a reader that saw, while it stored them, every x finite and
    // above the one before and every y finite: validation could only agree,
    // so a non-empty pattern of equal lengths is taken without reading its
    // arrays again.
    bool checked = false;
};

// Orients and validates what a reader handed back.
Result<Pattern> finish(Result<Points> points);

// Asks for the whole 2 MiB pages inside a room of 4 MiB or more to be backed
// by huge pages where the system offers them (as large file buffers are): an
// array of 10^6 values then fills a handful of pages instead of faulting in
// thousands. Only a hint: nothing changes where the system declines.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

// Room for `n` values, advised as above.
void reserve_values(std::vector<double>& values, std::size_t n);

// Gives back the room reserved beyond the values held when it is more than a
// quarter of what they take: room judged from an estimate that turned out
// too large.
void release_room(std::vector<double>& values);

}  // namespace difrax
