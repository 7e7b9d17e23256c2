#include "grid_fields.h"

#include "senddata/byte_grid.h"
#include "senddata/grid_control.h"

namespace ostrel {

std::unique_ptr<SendFields> MakeGridFields(GridControl& grid,
                                           const std::vector<FieldDefinition>& fields) {
  return std::make_unique<SendFields>(
      fields,
      [&grid] {
        std::vector<uint8_t> bytes;
        ReadBytesFromGrid(bytes, grid);
        return bytes;
      },
      [&grid](const std::vector<uint8_t>& bytes) { FillGridFromBytes(grid, bytes); });
}

}  // namespace ostrel
