// The rules that every player program and the quiz server read the same
// way: where the server listens and announces itself, how the operator's
// time limit is read, and what time a player is given when it runs out.
// Each rule is written here once; the players' programs, the browser
// players' gateway and the server's deadline all take it from here.
#pragma once

#include <cstdint>
#include <string>

namespace qova {

// The quiz server's TCP port.
constexpr uint16_t kServerPort = 5632;

// Where a running server announces its dotted IPv4 address (no line end).
#ifdef _WIN32
constexpr const char* kMarkerPath = "S:\\Zelk9\\HostIP\\hostIP.dat";
#else
constexpr const char* kMarkerPath = "/mnt/S/Zelk9/HostIP/hostIP.dat";
#endif

// The time limit in seconds when `timeLimitText` (as the operator entered it
// in config.ini) reads as a positive number by atof's rules, else 0: no
// limit.
double timeLimitSeconds(const std::string& timeLimitText);

// The time text of an answer that ran out of time: the limit itself with two
// decimals ("30.00" for 30, "2.50" for 2.5), whoever records it (a player
// program at its countdown's end, or the server at its deadline).
std::string timeoutTimeText(double limitSeconds);

}  // namespace qova
