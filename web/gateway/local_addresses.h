// Where the gateway is reached and where it finds the quiz server.
#pragma once

#include <string>
#include <vector>

namespace qova::web {

// The machine's IPv4 addresses in dotted form, loopback left out; just
// "127.0.0.1" when there is no other.
std::vector<std::string> localIPv4Addresses();

// Whether the dotted IPv4 address is this computer's: loopback (127.x.x.x) or
// one of localIPv4Addresses().
bool isOwnAddress(const std::string& dotted);

// The server address to play against: `option` when not empty, else the
// address the marker file at `markerPath` announces (wire/server_marker.h),
// else "127.0.0.1". *source says which: "--server", "marker file" or
// "default".
std::string chooseServerAddress(const std::string& option, const std::string& markerPath,
                                std::string* source);

}  // namespace qova::web
