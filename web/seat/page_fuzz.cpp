// libFuzzer target: the reader of the page's messages must never crash,
// throw or read out of bounds, and what it accepts must hold in range.
#include <cstdint>
#include <cstdlib>

#include "web/seat/page_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qova::web::PageRequest r;
  if (qova::web::parsePageMessage(reinterpret_cast<const char*>(data), size, &r)) {
    if (size > qova::web::kMaxPageMessage) std::abort();
    if (r.kind == qova::web::PageRequest::kResume && r.token.size() != 32) std::abort();
    if (r.kind == qova::web::PageRequest::kAnswer && (r.q < 1 || r.choice < 1 || r.choice > 64)) {
      std::abort();
    }
  }
  return 0;
}
