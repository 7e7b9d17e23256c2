#pragma once
// The send fields of a window: written into its send grid (a GridControl) before each
// transmission's read-back, so the grid shows the bytes that went out.

#include <memory>
#include <vector>

#include "fields/field_definition.h"
#include "send_fields.h"

namespace ostrel {

class GridControl;

// SendFields that read `grid` back and fill it again with the bytes that go out; the grid
// must outlive them. A cell the read-back cannot take raises, as a run-time error of the
// cycle, and the grid stays as it was.
std::unique_ptr<SendFields> MakeGridFields(GridControl& grid, const std::vector<FieldDefinition>& fields);

}  // namespace ostrel
