#include "local_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/run_time_error.h"

namespace ostrel {

uint32_t LocalAddressFor(CaptureEndpoint destination) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw RunTimeError(desc::kSocketError);
  // A broadcast destination is connected to only with broadcast allowed, as the send
  // socket allows it.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(destination.address);
  to.sin_port = htons(destination.port);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  const bool found = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
  ::close(fd);
  if (!found) throw RunTimeError(desc::kAddressNotAvailable);
  return ntohl(local.sin_addr.s_addr);
}

}  // namespace ostrel
