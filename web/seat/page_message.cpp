#include "web/seat/page_message.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "web/seat/text_codec.h"

namespace qova::web {

namespace {

bool isLowerHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// An integer field within [min, max]; JSON numbers with a fraction do not count.
bool intField(const nlohmann::json& object, const char* key, int64_t min, int64_t max,
              int64_t* value) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return false;
  if (it->is_number_unsigned()) {
    uint64_t u = it->get<uint64_t>();
    if (u > static_cast<uint64_t>(max)) return false;
    *value = static_cast<int64_t>(u);
  } else {
    *value = it->get<int64_t>();
  }
  return *value >= min && *value <= max;
}

PageText plain(std::string json) {
  PageText t;
  t.head = std::move(json);
  return t;
}

// ,"key":value
std::string q(const char* key, int64_t value) {
  return std::string(",\"") + key + "\":" + std::to_string(value);
}

const char* boolText(bool value) { return value ? "true" : "false"; }

bool stringField(const nlohmann::json& object, const char* key, std::string* value) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return false;
  *value = it->get<std::string>();
  return true;
}

}  // namespace

bool parsePageMessage(const char* data, size_t size, PageRequest* out) {
  if (size > kMaxPageMessage) return false;
  nlohmann::json j = nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return false;  // a parse error gives a discarded value
  std::string type;
  if (!stringField(j, "t", &type)) return false;
  *out = PageRequest();
  if (type == "join") {
    out->kind = PageRequest::kJoin;
    return stringField(j, "name", &out->name);
  }
  if (type == "resume") {
    out->kind = PageRequest::kResume;
    return stringField(j, "token", &out->token) && out->token.size() == 32 &&
           isLowerHex(out->token);
  }
  if (type == "rows") {
    out->kind = PageRequest::kRows;
    std::string of;
    if (!stringField(j, "of", &of) || (of != "results" && of != "standings")) return false;
    out->standings = of == "standings";
    return intField(j, "from", 0, INT32_MAX, &out->from);
  }
  if (type == "answer") {
    out->kind = PageRequest::kAnswer;
    int64_t choice = 0;
    if (!intField(j, "q", 1, INT64_MAX, &out->q) || !intField(j, "choice", 1, 64, &choice)) {
      return false;
    }
    out->choice = static_cast<int>(choice);
    return true;
  }
  return false;
}

std::string jsonString(const std::string& utf8) {
  return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace qova::web

namespace qova::web {

PageText pageWelcome(const std::string& token, const std::string& wireName,
                     const GameSettings& settings, int64_t limitMs) {
  return plain("{\"t\":\"welcome\",\"token\":" + jsonString(token) + ",\"name\":" +
               jsonString(cp1252ToUtf8(wireName)) + ",\"settings\":{\"questionsPerRound\":" +
               std::to_string(settings.questionsPerRound) +
               q("responseCount", settings.responseCount) + q("timeLimitMs", limitMs) + "}}");
}

PageText pageRefused(const std::string& message) {
  return plain("{\"t\":\"refused\",\"message\":" + jsonString(message) + "}");
}

PageText pageUnknown() { return plain("{\"t\":\"unknown\"}"); }

PageText pagePaused() {
  return plain("{\"t\":\"paused\",\"message\":\"The host has paused the quiz.\"}");
}

PageText pageLobby() { return plain("{\"t\":\"lobby\"}"); }

PageText pageQuestion(int64_t number, const Question& question, int questionsPerRound,
                      int64_t limitMs, int64_t leftMs) {
  std::string json = "{\"t\":\"question\"" + q("q", number) + q("round", question.round) +
                     q("number", question.number) + q("of", questionsPerRound) +
                     ",\"text\":" + jsonString(cp1252ToUtf8(question.text)) + ",\"responses\":[";
  for (size_t i = 0; i < question.responses.size(); ++i) {
    if (i) json += ',';
    json += jsonString(cp1252ToUtf8(question.responses[i]));
  }
  json += "]" + q("timeLimitMs", limitMs) + q("timeLeftMs", leftMs) + "}";
  return plain(std::move(json));
}

PageText pageAnswered(int64_t number, int choice, int correct, bool right,
                      const std::string& timeText, bool timedOut) {
  return plain("{\"t\":\"answered\"" + q("q", number) + q("choice", choice) +
               q("correct", correct) + ",\"right\":" + boolText(right) +
               ",\"time\":" + jsonString(timeText) + ",\"timedOut\":" + boolText(timedOut) + "}");
}

namespace {

// A text from the server for display, clipped (Windows-1252 in, UTF-8 JSON
// out).
std::string shown(const std::string& cp1252, size_t max) {
  return jsonString(cp1252ToUtf8(clipForDisplay(cp1252, max)));
}

std::string resultRow(const ResultDigest& d, int i) {
  const ResultEntry& e = (*d.entries)[static_cast<size_t>(i)];
  return "{\"i\":" + std::to_string(i) + ",\"name\":" + shown(e.name, kMaxShownName) +
         ",\"time\":" + shown(e.timeText, kMaxShownTime) + ",\"right\":" + boolText(e.correct) +
         "}";
}

std::string standingRow(const StandingsDigest& d, int i) {
  const SummaryEntry& e = d.order[static_cast<size_t>(i)];
  return "{\"i\":" + std::to_string(i) +
         ",\"rank\":" + std::to_string(d.places[static_cast<size_t>(i)]) +
         ",\"name\":" + shown(e.name, kMaxShownName) +
         ",\"correct\":" + std::to_string(e.totalCorrect) +
         ",\"answers\":" + std::to_string(e.totalAnswers) +
         ",\"average\":" + shown(e.totalAverage, kMaxShownTime) + "}";
}

// ,"me":i,"mine":row (null when i is -1)
template <typename Digest, typename Row>
std::string mine(const Digest& d, int me, Row row) {
  return q("me", me) + ",\"mine\":" + (me >= 0 ? row(d, me) : std::string("null")) + "}";
}

// ,"from":F,"total":N,"rows":[...],"me":i}
template <typename Row>
std::string rowsPage(int64_t from, int total, int me, Row row) {
  std::string json = q("from", from) + q("total", total) + ",\"rows\":[";
  int64_t end = std::min<int64_t>(total, from + kRowsPerPage);
  for (int64_t i = from; i < end; ++i) {
    if (i > from) json += ',';
    json += row(static_cast<int>(i));
  }
  return json + "]" + q("me", me) + "}";
}

}  // namespace

std::string resultsShared(const ResultDigest& d) {
  std::string json = "\"players\":" + std::to_string(d.players) + q("right", d.right) +
                     ",\"all\":" + boolText(d.inline_all) + ",\"rows\":[";
  for (size_t k = 0; k < d.shown.size(); ++k) {
    if (k) json += ',';
    json += resultRow(d, d.shown[k]);
  }
  return json + "]";
}

std::string standingsShared(const StandingsDigest& d) {
  std::string json = "\"players\":" + std::to_string(d.players) + ",\"rows\":[";
  for (int i = 0; i < d.shown; ++i) {
    if (i) json += ',';
    json += standingRow(d, i);
  }
  return json + "]";
}

PageText pageResults(int64_t number, const Question& question, int correct,
                     const ResultDigest& digest, std::shared_ptr<const std::string> shared,
                     int me) {
  PageText t;
  t.head = "{\"t\":\"results\"" + q("q", number) + q("round", question.round) +
           q("number", question.number) + q("correct", correct) + ",";
  t.shared = std::move(shared);
  t.tail = mine(digest, me, resultRow);
  return t;
}

PageText pageLeaderboard(int round, const StandingsDigest& digest,
                         std::shared_ptr<const std::string> shared, int me) {
  PageText t;
  t.head = "{\"t\":\"leaderboard\"" + q("round", round) + ",\"final\":false,";
  t.shared = std::move(shared);
  t.tail = mine(digest, me, standingRow);
  return t;
}

PageText pageEnded(const std::string& message, const StandingsDigest* digest,
                   std::shared_ptr<const std::string> shared, int me) {
  PageText t;
  t.head = "{\"t\":\"ended\",\"message\":" + jsonString(message) + ",";
  if (digest && shared) {
    t.shared = std::move(shared);
    t.tail = mine(*digest, me, standingRow);
  } else {
    t.head += "\"players\":0,\"rows\":[]";
    t.tail = q("me", -1) + ",\"mine\":null}";
  }
  return t;
}

PageText pageResultRows(int64_t number, const ResultDigest& digest, int64_t from, int me) {
  return plain("{\"t\":\"rows\",\"of\":\"results\"" + q("q", number) +
               rowsPage(from, digest.players, me, [&](int i) { return resultRow(digest, i); }));
}

PageText pageStandingRows(int round, const StandingsDigest& digest, int64_t from, int me) {
  return plain("{\"t\":\"rows\",\"of\":\"standings\"" + q("round", round) +
               rowsPage(from, digest.players, me, [&](int i) { return standingRow(digest, i); }));
}

std::string infoJson(const std::vector<std::string>& links, const std::string& server, size_t seats,
                     size_t maxSeats) {
  std::string json = "{\"links\":[";
  for (size_t i = 0; i < links.size(); ++i) {
    json += (i ? "," : "") + jsonString(links[i]);
  }
  json += "],\"server\":" + jsonString(server) + ",\"seats\":" + std::to_string(seats) +
          ",\"maxSeats\":" + std::to_string(maxSeats) + "}";
  return json;
}

}  // namespace qova::web
