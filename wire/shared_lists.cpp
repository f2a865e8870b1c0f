#include "wire/shared_lists.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace qova {

size_t SharedLists::known(ServerMessage kind, const char* data, size_t size, KnownBytes* known,
                          bool* partial) const {
  *partial = false;
  const Last& l = last(kind);
  if (l.serial == 0) return 0;
  if (known->of != l.serial) *known = KnownBytes{0, l.serial};
  size_t common = std::min(size, l.raw.size());
  if (known->checked < common) {
    if (std::memcmp(data + known->checked, l.raw.data() + known->checked,
                    common - known->checked) != 0) {
      return 0;
    }
    known->checked = common;
  } else if (known->checked > common) {
    return 0;  // fewer bytes than were compared: other bytes
  }
  *partial = size < l.raw.size();
  return *partial ? 0 : l.raw.size();
}

bool SharedLists::read(ServerMessage kind, const char* data, size_t size) {
  Last& l = kind == ServerMessage::kResults ? resultsRaw_ : summaryRaw_;
  if (l.serial != 0 && l.raw.size() == size && std::memcmp(l.raw.data(), data, size) == 0) {
    return true;
  }
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
  l.raw.assign(data, size);
  ++serials_;
  l.serial = serials_;
  return true;
}

}  // namespace qova
