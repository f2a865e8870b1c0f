// Where the gateway is reached and where it finds the quiz server.
#pragma once

#include <string>
#include <vector>

namespace qova::web {

// The machine's IPv4 addresses in dotted form, loopback left out; just
// "127.0.0.1" when there is no other.
std::vector<std::string> localIPv4Addresses();

// The marker file in which a running quiz server announces its address.
#ifdef _WIN32
constexpr const char* kMarkerPath = "S:\\Zelk9\\HostIP\\hostIP.dat";
#else
constexpr const char* kMarkerPath = "/mnt/S/Zelk9/HostIP/hostIP.dat";
#endif

// The server address to play against: `option` when not empty, else the
// dotted IPv4 address in the marker file at `markerPath` when it can be
// read and holds one (surrounding white space ignored), else "127.0.0.1".
// *source says which: "--server", "marker file" or "default".
std::string chooseServerAddress(const std::string& option, const std::string& markerPath,
                                std::string* source);

// Whether `text` is a dotted IPv4 address (four decimal parts 0..255).
bool isDottedIPv4(const std::string& text);

}  // namespace qova::web
