// How QOVASTART starts QOVAWEB beside the quiz server and closes it again;
// shared by both programs.
#pragma once

namespace qova::web {

// On QOVAWEB's command line when the launcher started it beside a server
// that runs on this machine.
constexpr const char* kLaunchedFlag = "--launched";

// The name of the registered window message (RegisterWindowMessageA) that the
// launcher posts to the windows of the QOVAWEB it started once the server has
// ended. Only a QOVAWEB started with kLaunchedFlag acts on it: it closes
// without asking, since its seats ended with the server.
constexpr const char* kServerEndedMessage = "QOVA quiz server ended";

}  // namespace qova::web
