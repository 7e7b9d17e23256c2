#include "reachability.h"

#include "common/host_address.h"

namespace ostrel {

std::optional<in_addr> ResolvePingTarget(const std::string& strHost) {
  const std::optional<in_addr> found = ResolveHostAddress(strHost);
  if (found && found->s_addr == INADDR_NONE) return std::nullopt;
  return found;
}

}  // namespace ostrel
