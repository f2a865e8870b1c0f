// Where a connected socket's peer is: whether it is on this computer. The
// room feed takes host commands only from its own computer and asks this
// of every connection it accepts (beside listening on 127.0.0.1 only).
#pragma once

#include "net/net.h"

namespace qova {

// True when the socket's peer has an IPv4 loopback address (127.0.0.0/8);
// false for any other peer and when the address cannot be had.
bool peerIsLoopback(SocketHandle handle);

}  // namespace qova
