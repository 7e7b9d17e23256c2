#pragma once
// The byte grids: bytes shown 16 to a row as two upper-case hexadecimal digits, and the
// two conversions between a grid and a byte array.
//
//   byte array --SetGridFromByteArray--> grid cells --SetByteArrayFromGrid--> byte array
//
// Data cell (R, C), both from 1, holds byte index (R - 1) * (Cols - 1) + (C - 1). Row 0
// (the column headers) belongs to the main window and is never touched here; column 0
// holds the row number in four hex digits. The grid's cell texts are the only store of
// the payload between a load or an edit and the next transmission.
//
// Both conversions run under a handler: a failure writes one log line
// "description(SetGridFromByteArray)" or "description(SetByteArrayFromGrid)" and the call
// returns normally. They do not yield to the event loop; a whole fill takes milliseconds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grid_control.h"

namespace ostrel {

// The most bytes a grid shows: 128 rows of 16.
inline constexpr std::size_t kGridByteCapacity = 2048;

// The value of a readable cell text: non-empty and made of hexadecimal digits only,
// either case ("0A", "a", "0ff"). Leading zeros are allowed. Values too large for an int
// come back as INT_MAX. Anything else (empty, blanks, signs, "&H", non-ASCII) is
// unreadable: nullopt.
std::optional<int> ReadableCellValue(std::string_view text);

// Labels the header cells of a byte grid: "00".."0F" in row 0, "0000".. in column 0,
// each centred.
void LabelGridHeaders(GridControl& grid);

// Fills `grid` from `bytes` (at most the first kGridByteCapacity are shown):
// Rows = data rows needed + 1, every row header and data cell rewritten and centred, a
// data cell gets its byte's two-digit text on the default background, or the empty
// text on grey past the end of the data. The current cell (Row, Col) is the same after
// the fill as before, moved up only when its row went away. An empty array leaves the
// grid as it is. Logs failures under "SetGridFromByteArray"; the grid is then partly
// refilled.
void SetGridFromByteArray(GridControl& grid, const std::vector<uint8_t>& bytes) noexcept;

// The same fill without a handler, for callers that log under their own tag. Raises
// RunTimeError (or whatever the grid raises) on failure.
void FillGridFromBytes(GridControl& grid, std::span<const uint8_t> bytes);

// The same fill with a text of its own in each cell (an expected answer's tokens as
// written), for grids that show more than bytes. Raises as FillGridFromBytes.
void FillGridFromTexts(GridControl& grid, std::span<const std::string> texts);

// Reads the grid back into `bytes` (its previous content does not matter): the data cells
// in byte-index order, each row up to its first unreadable cell (an empty cell is
// unreadable), so the result is exactly the bytes shown, without the empty cells of the
// last row. A grid without any readable cell gives an empty array and no log line.
// A readable text above FF fails the whole read-back: one log line
// "オーバーフローしました。(SetByteArrayFromGrid)", and `bytes` keeps its working size
// (Rows - 1) * (Cols - 1): the bytes read before the bad cell, zeros after them.
void SetByteArrayFromGrid(std::vector<uint8_t>& bytes, const GridControl& grid) noexcept;

// The same read-back without a handler, for callers that log under their own tag. Raises
// RunTimeError (overflow) on a readable text above FF, `bytes` then as described above.
void ReadBytesFromGrid(std::vector<uint8_t>& bytes, const GridControl& grid);

}  // namespace ostrel
