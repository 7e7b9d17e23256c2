#pragma once
// The local address datagrams to a destination leave from, for the capture file's
// outbound packets.

#include <cstdint>

#include "capture/capture_file.h"

namespace ostrel {

// The local IPv4 address the kernel chooses as source for datagrams to `destination`
// (host byte order), learnt by connecting a throwaway UDP socket, which sends nothing.
// A socket bound to any address shows 0.0.0.0 to getsockname; this is the address its
// datagrams really leave from. Raises RunTimeError (kAddressNotAvailable) when no route
// leads there.
uint32_t LocalAddressFor(CaptureEndpoint destination);

}  // namespace ostrel
