// Windows: BCryptGenRandom with the system's preferred generator.
// bcrypt.h needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "web/gateway/secure_random.h"

namespace qova::web {

bool secureRandomBytes(uint8_t* bytes, size_t size) {
  return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

}  // namespace qova::web
