// Millisecond tick count: GetTickCount on Windows, a monotonic clock cut to
// 32 bits elsewhere. Wraps after about 49.7 days; callers subtract unsigned.
#pragma once

#include <cstdint>

namespace qova {

uint32_t tickCount();

// Where code that measures time gets its ticks, so tests can drive the clock.
using TickSource = uint32_t (*)();

}  // namespace qova
