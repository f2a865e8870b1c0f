#include "net/peer_address.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>

namespace qova {

bool peerIsLoopback(SocketHandle handle) {
  if (handle == kNoSocket) return false;
  sockaddr_in peer = {};
#ifdef _WIN32
  int size = sizeof peer;
  if (getpeername(static_cast<SOCKET>(handle), reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    return false;
  }
#else
  socklen_t size = sizeof peer;
  if (getpeername(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    return false;
  }
#endif
  if (peer.sin_family != AF_INET) return false;
  const uint32_t address = ntohl(peer.sin_addr.s_addr);
  return (address >> 24) == 127;
}

}  // namespace qova
