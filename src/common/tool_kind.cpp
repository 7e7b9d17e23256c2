#include "tool_kind.h"

namespace ostrel {
int16_t intToolKind = 0;
}  // namespace ostrel
