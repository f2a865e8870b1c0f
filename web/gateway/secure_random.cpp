#include "web/gateway/secure_random.h"

namespace qova::web {

std::string newSeatToken() {
  uint8_t bytes[16];
  if (!secureRandomBytes(bytes, sizeof bytes)) return "";
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (uint8_t b : bytes) {
    token += hex[b >> 4];
    token += hex[b & 15];
  }
  return token;
}

}  // namespace qova::web
