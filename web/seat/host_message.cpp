#include "web/seat/host_message.h"

#include <nlohmann/json.hpp>

#include "web/seat/text_codec.h"

namespace qova::web {

const char kHostDeniedText[] = "This host link is not valid. Open the link QOVAWEB shows.";
const char kHostNofeedText[] = "The host controls need QOVAWEB on the quiz server's computer.";
const char kHostNoAnswerText[] = "The quiz server did not answer.";
const char kHostBusyText[] = "Wait for the last command's answer.";

namespace {

constexpr int64_t kMaxCommandId = 9007199254740991;  // what a page's number holds exactly

bool intField(const nlohmann::json& o, const char* key, int64_t min, int64_t max, int64_t* v) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_number_integer()) return false;
  if (it->is_number_unsigned()) {
    uint64_t u = it->get<uint64_t>();
    if (u > static_cast<uint64_t>(max)) return false;
    *v = static_cast<int64_t>(u);
  } else {
    *v = it->get<int64_t>();
  }
  return *v >= min && *v <= max;
}

bool stringField(const nlohmann::json& o, const char* key, std::string* v) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_string()) return false;
  *v = it->get<std::string>();
  return true;
}

std::string num(const char* key, int64_t value) {
  return std::string(",\"") + key + "\":" + std::to_string(value);
}

const char* boolText(bool v) { return v ? "true" : "false"; }

PageText plain(std::string json) {
  PageText t;
  t.head = std::move(json);
  return t;
}

}  // namespace

bool parseHostMessage(const char* data, size_t size, HostRequest* out) {
  if (size > kMaxHostMessage) return false;
  nlohmann::json j = nlohmann::json::parse(data, data + size, nullptr, false);
  if (!j.is_object()) return false;
  std::string type;
  if (!stringField(j, "t", &type)) return false;
  HostRequest r;
  if (type == "key") {
    r.kind = HostRequest::kKey;
    if (!stringField(j, "key", &r.key) || r.key.size() > 64) return false;
  } else if (type == "command") {
    r.kind = HostRequest::kCommand;
    std::string verb;
    if (!intField(j, "id", 0, kMaxCommandId, &r.id) || !stringField(j, "do", &verb)) return false;
    if (verb == "start") {
      r.verb = HostVerb::kStart;
    } else if (verb == "endQuestion") {
      r.verb = HostVerb::kEndQuestion;
    } else if (verb == "hold") {
      r.verb = HostVerb::kHold;
    } else if (verb == "goOn") {
      r.verb = HostVerb::kGoOn;
    } else if (verb == "holdAfterRound") {
      r.verb = HostVerb::kHoldAfterRound;
      auto on = j.find("on");
      if (on == j.end() || !on->is_boolean()) return false;
      r.on = on->get<bool>();
    } else if (verb == "remove") {
      r.verb = HostVerb::kRemove;
      int64_t player = 0;
      if (!intField(j, "player", 1, 2147483647, &player)) return false;
      r.player = static_cast<int>(player);
    } else {
      return false;
    }
  } else if (type == "players") {
    r.kind = HostRequest::kPlayers;
    if (!intField(j, "from", 0, 2147483647, &r.from)) return false;
    if (j.contains("search") && !stringField(j, "search", &r.search)) return false;
    if (r.search.size() > kMaxHostSearch) return false;
  } else {
    return false;
  }
  *out = std::move(r);
  return true;
}

std::string feedCommandLine(int tag, const HostRequest& c) {
  std::string verb;
  switch (c.verb) {
    case HostVerb::kStart:
      verb = "START";
      break;
    case HostVerb::kEndQuestion:
      verb = "END QUESTION";
      break;
    case HostVerb::kHold:
      verb = "HOLD";
      break;
    case HostVerb::kGoOn:
      verb = "GO ON";
      break;
    case HostVerb::kHoldAfterRound:
      verb = std::string("HOLD AFTER ROUND\t") + (c.on ? "1" : "0");
      break;
    case HostVerb::kRemove:
      verb = "REMOVE\t" + std::to_string(c.player);
      break;
  }
  return "COMMAND\t" + std::to_string(tag) + "\t" + verb + "\r\n";
}

PageText hostDenied() {
  return plain(std::string("{\"t\":\"denied\",\"message\":") + jsonString(kHostDeniedText) + "}");
}

PageText hostNofeed() {
  return plain(std::string("{\"t\":\"nofeed\",\"message\":") + jsonString(kHostNofeedText) + "}");
}

PageText hostAnswer(int64_t id, bool done, const std::string& reason) {
  std::string json = "{\"t\":\"answer\"" + num("id", id) + ",\"done\":" + boolText(done);
  if (!done) json += ",\"reason\":" + jsonString(reason);
  return plain(json + "}");
}

PageText hostState(const RoomFeed& room, int64_t timeLimitMs, int64_t timeLeftMs) {
  const char* stage = "between";
  switch (room.phase()) {
    case RoomPhase::kLobby:
      stage = "lobby";
      break;
    case RoomPhase::kQuestion:
      stage = "question";
      break;
    case RoomPhase::kStarted:
    case RoomPhase::kResults:
      stage = "between";
      break;
    case RoomPhase::kEnded:
      stage = "ended";
      break;
  }
  std::string json = std::string("{\"t\":\"state\",\"stage\":\"") + stage +
                     "\",\"held\":" + boolText(room.held()) +
                     ",\"holdAfterRound\":" + boolText(room.holdAfterRound()) +
                     num("players", static_cast<int64_t>(room.players().size())) + ",\"question\":";
  bool out = room.phase() == RoomPhase::kQuestion;
  if (out) {
    const FeedMessage& q = room.question();
    json += "{\"round\":" + std::to_string(q.round) + num("number", q.number) +
            num("of", q.questionsPerRound) +
            ",\"text\":" + jsonString(cp1252ToUtf8(clipForDisplay(q.text, 500))) +
            num("timeLimitMs", timeLimitMs) + num("timeLeftMs", timeLeftMs) + "}";
  } else {
    json += "null";
  }
  json += num("answered", out ? room.received() : 0) + num("awaited", out ? room.awaited() : 0);
  return plain(json + "}");
}

PageText hostPlayers(const RoomFeed& room, int64_t from, const std::string& search) {
  std::string wanted;
  // A search that is not in the server's code page matches no name.
  bool any = utf8ToCp1252(search, &wanted);
  std::string folded = foldCase(wanted);
  std::string rows;
  int64_t total = 0;
  for (const auto& p : room.players()) {
    if (!any) break;
    if (!folded.empty() && foldCase(p.second).find(folded) == std::string::npos) continue;
    if (total >= from && total < from + static_cast<int64_t>(kHostPlayersPerPage)) {
      if (!rows.empty()) rows += ',';
      rows += "{\"n\":" + std::to_string(p.first) +
              ",\"name\":" + jsonString(cp1252ToUtf8(clipForDisplay(p.second, kMaxShownName))) +
              "}";
    }
    ++total;
  }
  return plain("{\"t\":\"players\"" + num("from", from) + num("total", total) +
               ",\"search\":" + jsonString(search) + ",\"rows\":[" + rows + "]}");
}

}  // namespace qova::web
