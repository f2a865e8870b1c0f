#include "web/page_message.h"

#include <nlohmann/json.hpp>

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
