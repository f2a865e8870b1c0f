// Seat tokens from the operating system's secure random generator.
#pragma once

#include <string>

namespace qova::web {

// 128 random bits as 32 lower-case hex digits; empty when the system's
// generator fails (the seat is then refused rather than given a weak token).
std::string newSeatToken();

}  // namespace qova::web
