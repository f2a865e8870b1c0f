// POSIX: getrandom(), which blocks only until the kernel's pool is first
// seeded, long before a quiz runs.
#include <errno.h>
#include <sys/random.h>

#include "web/gateway/secure_random.h"

namespace qova::web {

bool secureRandomBytes(uint8_t* bytes, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = getrandom(bytes + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qova::web
