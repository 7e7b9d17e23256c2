#pragma once
// Where an answer does not fit its expectation, as marks on the answer grid: the cells of
// those bytes get a background colour of their own until the grid is next filled. Plain
// C++ over the GridControl interface.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "senddata/grid_control.h"

namespace ostrel {

// The background of a byte that does not fit, 0x00BBGGRR: a light red.
inline constexpr uint32_t kMismatchBackColor = 0x9999FF;

// Whether the data cells of `grid` show exactly `answer` (its first 2048 bytes), so that
// marks land on the bytes that were judged and not on a later datagram's.
bool GridShows(const GridControl& grid, std::span<const uint8_t> answer);

// Gives the data cells at `offsets` the colour kMismatchBackColor; offsets past the grid's
// rows are left out. The current cell stays where it was.
void MarkGridCells(GridControl& grid, const std::vector<std::size_t>& offsets);

// Gives the cells at `offsets` back the background of the fill: the default under a byte,
// grey under an empty cell. The current cell stays where it was.
void ClearGridMarks(GridControl& grid, const std::vector<std::size_t>& offsets);

}  // namespace ostrel
