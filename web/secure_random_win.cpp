// Windows: BCryptGenRandom with the system's preferred generator.
// bcrypt.h needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstdint>

#include "web/secure_random.h"

namespace qova::web {

std::string newSeatToken() {
  uint8_t bytes[16];
  if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
    return "";
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
