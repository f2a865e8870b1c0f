#include "wire/shared_lists.h"

#include <cstring>
#include <string_view>

namespace qova {

namespace {

// Two independent 64-bit digests of the bytes, eight at a time. Not meant
// against a forger: only the server writes these bytes, and it could send
// any seat any list anyway.
void digest(const char* data, size_t size, uint64_t out[2]) {
  uint64_t a = 0x9E3779B97F4A7C15ull ^ size, b = 0xC2B2AE3D27D4EB4Full + size;
  auto mix = [](uint64_t h, uint64_t v, uint64_t k) {
    h ^= v * k;
    h = (h << 31) | (h >> 33);
    return h * 0x9E3779B97F4A7C15ull + 0x165667B19E3779F9ull;
  };
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v;
    std::memcpy(&v, data + i, 8);
    a = mix(a, v, 0x87C37B91114253D5ull);
    b = mix(b, v ^ (v >> 29), 0x4CF5AD432745937Full);
  }
  uint64_t v = 0;
  std::memcpy(&v, data + i, size - i);
  a = mix(a, v, 0x87C37B91114253D5ull);
  b = mix(b, v ^ (v >> 29), 0x4CF5AD432745937Full);
  out[0] = a ^ (a >> 32);
  out[1] = b ^ (b >> 29);
}

}  // namespace

bool SharedLists::read(ServerMessage kind, const char* data, size_t size) {
  Last& l = kind == ServerMessage::kResults ? resultsLast_ : summaryLast_;
  uint64_t d[2];
  digest(data, size, d);
  if (l.size == size && l.digest[0] == d[0] && l.digest[1] == d[1]) return true;
  ListReader reader;
  reader.start(kind);
  std::string_view text(data, size);
  std::string line;
  for (size_t at = 0;;) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos || end - at > kMaxServerLine) return false;
    line.assign(text.substr(at, end - at));
    at = end + 2;
    ListReader::Step step = reader.line(line);
    if (step == ListReader::Step::kViolation) return false;
    if (step == ListReader::Step::kDone) {
      if (at != size) return false;
      break;
    }
  }
  if (kind == ServerMessage::kResults) {
    results_ = std::make_shared<const std::vector<ResultEntry>>(std::move(reader.results));
  } else {
    summary_ = std::make_shared<const std::vector<SummaryEntry>>(std::move(reader.summary));
  }
  l.size = size;
  l.digest[0] = d[0];
  l.digest[1] = d[1];
  return true;
}

}  // namespace qova
