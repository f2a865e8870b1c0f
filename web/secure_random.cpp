// POSIX: getrandom(), which blocks only until the kernel's pool is first
// seeded, long before a quiz runs.
#include "web/secure_random.h"

#include <errno.h>
#include <sys/random.h>

#include <cstdint>

namespace qova::web {

std::string newSeatToken() {
  uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    got += static_cast<size_t>(n);
  }
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (uint8_t b : bytes) {
    token += hex[b >> 4];
    token += hex[b & 15];
  }
  return token;
}

}  // namespace qova::web
