// Seat tokens from the operating system's secure random generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qova::web {

// Fills `size` bytes from the system's secure generator (getrandom, or
// BCryptGenRandom on Windows); false when it fails.
bool secureRandomBytes(uint8_t* bytes, size_t size);

// 128 random bits as 32 lower-case hex digits; empty when the system's
// generator fails (the seat is then refused rather than given a weak token).
std::string newSeatToken();

}  // namespace qova::web
