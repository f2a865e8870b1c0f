#include "web/shared_rows.h"

#include <algorithm>
#include <cstring>

#include "web/page_message.h"
#include "web/text_codec.h"
#include "wire/standings.h"

namespace qova::web {

namespace {

bool same(const ResultEntry& a, const ResultEntry& b) {
  return a.correct == b.correct && a.name == b.name && a.timeText == b.timeText;
}

bool same(const SummaryEntry& a, const SummaryEntry& b) {
  return a.name == b.name && a.roundCorrect == b.roundCorrect && a.roundAverage == b.roundAverage &&
         a.roundAnswers == b.roundAnswers && a.totalCorrect == b.totalCorrect &&
         a.totalAverage == b.totalAverage && a.totalAnswers == b.totalAnswers;
}

template <typename T>
bool sameList(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!same(a[i], b[i])) return false;
  }
  return true;
}

bool sameBytes(const std::string& a, const char* b, size_t size) {
  return a.size() == size && std::memcmp(a.data(), b, size) == 0;
}

// Reads a results or summary message alone with a stream of its own, led to
// the point where that message is due by the smallest conversation that gets
// there: settings of one question per round and one response, a question,
// and (for a summary) empty results. The message is thus checked line by
// line exactly as a seat's own stream would check it.
ServerStream* streamAt(ServerStream* s, bool summary) {
  static const char kLead[] = "0\r\n1\r\n1\r\nq\r\nr\r\n1\r\n";
  s->feed(kLead, sizeof kLead - 1);
  if (s->next() != ServerMessage::kSettings || s->next() != ServerMessage::kQuestion)
    return nullptr;
  if (summary) {
    s->feed("\r\n", 2);
    if (s->next() != ServerMessage::kResults) return nullptr;
  }
  return s;
}

}  // namespace

std::shared_ptr<const SharedResults> SharedRows::readResults(const char* raw, size_t size) {
  if (lastRead_ && sameBytes(lastResultsRaw_, raw, size)) return lastRead_;
  ServerStream stream;
  if (!streamAt(&stream, false)) return nullptr;
  stream.feed(raw, size);
  if (stream.next() != ServerMessage::kResults || stream.midMessage()) return nullptr;
  auto read = std::make_shared<SharedResults>();
  read->entries = stream.results();
  read->rowsJson = results(read->entries);
  for (size_t i = 0; i < read->entries.size(); ++i) {
    read->rowsByName[read->entries[i].name].push_back(static_cast<int>(i));
  }
  lastResultsRaw_.assign(raw, size);
  ++resultsRead_;
  lastRead_ = read;
  return lastRead_;
}

namespace {

size_t knownPrefix(const std::string& last, bool read, uint64_t of, const std::string& held,
                   SharedRows::Known* known, bool* partial) {
  *partial = false;
  if (!read) return 0;
  if (known->of != of) *known = SharedRows::Known{0, of};
  size_t common = std::min(held.size(), last.size());
  if (known->checked < common) {
    if (std::memcmp(held.data() + known->checked, last.data() + known->checked,
                    common - known->checked) != 0) {
      return 0;
    }
    known->checked = common;
  } else if (known->checked > common) {
    return 0;  // held holds less than it did: another message
  }
  *partial = held.size() < last.size();
  return *partial ? 0 : last.size();
}

}  // namespace

size_t SharedRows::knownResults(const std::string& held, Known* known, bool* partial) const {
  return knownPrefix(lastResultsRaw_, lastRead_ != nullptr, resultsRead_, held, known, partial);
}

size_t SharedRows::knownSummary(const std::string& held, Known* known, bool* partial) const {
  return knownPrefix(lastSummaryRaw_, lastReadBoard_ != nullptr, summaryRead_, held, known,
                     partial);
}

std::shared_ptr<const Leaderboard> SharedRows::readSummary(const char* raw, size_t size) {
  if (lastReadBoard_ && sameBytes(lastSummaryRaw_, raw, size)) return lastReadBoard_;
  ServerStream stream;
  if (!streamAt(&stream, true)) return nullptr;
  stream.feed(raw, size);
  if (stream.next() != ServerMessage::kSummary || stream.midMessage()) return nullptr;
  lastSummaryRaw_.assign(raw, size);
  ++summaryRead_;
  lastReadBoard_ = leaderboard(stream.summary());
  return lastReadBoard_;
}

std::shared_ptr<const std::string> SharedRows::results(const std::vector<ResultEntry>& entries) {
  if (lastResultsJson_ && sameList(entries, lastResults_)) return lastResultsJson_;
  std::string json = "[";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) json += ',';
    json += "{\"name\":" + jsonString(cp1252ToUtf8(entries[i].name)) +
            ",\"time\":" + jsonString(cp1252ToUtf8(entries[i].timeText)) +
            ",\"right\":" + (entries[i].correct ? "true" : "false") + "}";
  }
  json += "]";
  lastResults_ = entries;
  lastResultsJson_ = std::make_shared<const std::string>(std::move(json));
  return lastResultsJson_;
}

std::shared_ptr<const Leaderboard> SharedRows::leaderboard(
    const std::vector<SummaryEntry>& summary) {
  if (lastBoard_ && sameList(summary, lastSummary_)) return lastBoard_;
  auto board = std::make_shared<Leaderboard>();
  board->order = qova::leaderboard(summary);
  std::vector<int> places = leaderboardPlaces(board->order);
  std::string json = "[";
  for (size_t i = 0; i < board->order.size(); ++i) {
    const SummaryEntry& e = board->order[i];
    if (i) json += ',';
    json += "{\"rank\":" + std::to_string(places[i]) +
            ",\"name\":" + jsonString(cp1252ToUtf8(e.name)) +
            ",\"correct\":" + std::to_string(e.totalCorrect) +
            ",\"answers\":" + std::to_string(e.totalAnswers) +
            ",\"average\":" + jsonString(cp1252ToUtf8(e.totalAverage)) + "}";
  }
  json += "]";
  board->rowsJson = std::make_shared<const std::string>(std::move(json));
  lastSummary_ = summary;
  lastBoard_ = board;
  return lastBoard_;
}

}  // namespace qova::web
