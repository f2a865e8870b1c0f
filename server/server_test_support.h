// Shared pieces of the engine's tests: question files and a scripted shell.
#pragma once

#include <string>
#include <vector>

#include "common/test_support.h"
#include "server/server_app.h"

namespace qova::testing {

// A question file of `count` records "Question n" with `responses`
// responses "n.a", "n.b", ... and the correct line "1".."responses" cycling.
inline std::string questionFileBytes(int count, int responses = 4) {
  std::string out = "256\r\n" + std::to_string(responses) + "\r\n" + std::to_string(count) + "\r\n";
  for (int n = 1; n <= count; ++n) {
    out += "Question " + std::to_string(n) + "\r\n";
    for (int r = 0; r < responses; ++r) out += std::to_string(n) + "." + char('a' + r) + "\r\n";
    out += std::to_string(1 + n % responses) + "\r\n";
  }
  return out;
}

// The shell's actions, recorded.
struct ScriptedShell {
  ScriptedPrompts prompts;
  std::vector<std::pair<void*, int32_t>> destroyed;  // window, exit code
  std::vector<int32_t> posted;                       // quit codes posted directly

  ServerShell shell() {
    ServerShell s;
    s.prompts = prompts.prompts();
    s.destroyMainWindow = [this](void* w, int32_t code) { destroyed.emplace_back(w, code); };
    s.postQuit = [this](int32_t code) { posted.push_back(code); };
    return s;
  }
};

}  // namespace qova::testing
