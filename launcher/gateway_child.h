// The web players' gateway beside the quiz server: Begin starts QOVAWEB with
// the server, and the launcher closes that QOVAWEB again once the server has
// ended. A QOVAWEB that the operator started is never touched.
#pragma once

#include <windows.h>

namespace qova {

// How long a gateway has to close once asked; it is ended after that.
constexpr DWORD kGatewayCloseGraceMs = 10000;

// A QOVAWEB process that this launcher started; empty (process null) when it
// started none.
struct GatewayChild {
  HANDLE process = nullptr;
  DWORD id = 0;
};

// Starts `path` (relative to the working folder) with the launched flag, in
// this working folder, and returns at once. Starts nothing when a process of
// that same program file already runs (the operator started it, or it was
// left from before). A gateway that cannot start (no such file, a damaged
// one) gives an empty GatewayChild and no message: the server runs alone.
GatewayChild startGateway(const char* path);

// Asks the gateway's windows to close, again and again until it has ended, for
// at most kGatewayCloseGraceMs; a gateway still running then (hung, or not yet
// at its window) is ended. Returns once it has ended and closes the handle; an
// empty child is left as it is.
void closeGateway(GatewayChild* gateway);

// Lets the gateway run on and closes the handle.
void releaseGateway(GatewayChild* gateway);

}  // namespace qova
