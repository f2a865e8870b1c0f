// Shared pieces of the engine's tests: question files and a scripted shell.
#pragma once

#include <string>
#include <vector>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "server/server_app.h"

namespace qova::testing {

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
