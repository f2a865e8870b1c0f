#include "web/seat/shared_lists.h"

#include <cstring>
#include <string_view>

namespace qova::web {

bool SharedLists::read(ServerMessage kind, const char* data, size_t size) {
  std::shared_ptr<const ListMessage>& last = kind == ServerMessage::kResults ? results_ : summary_;
  if (last && last->bytes.size() == size && std::memcmp(last->bytes.data(), data, size) == 0)
    return true;
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
  auto read = std::make_shared<ListMessage>();
  read->bytes.assign(data, size);
  if (kind == ServerMessage::kResults) {
    read->results = std::make_shared<const std::vector<ResultEntry>>(std::move(reader.results));
  } else {
    read->summary = std::make_shared<const std::vector<SummaryEntry>>(std::move(reader.summary));
  }
  last = std::move(read);
  return true;
}

}  // namespace qova::web
