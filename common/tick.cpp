#include "common/tick.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace qova {

uint32_t tickCount() {
#ifdef _WIN32
  return GetTickCount();
#else
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
#endif
}

}  // namespace qova
