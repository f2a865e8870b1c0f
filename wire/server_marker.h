// The marker file in which a running quiz server announces its address on
// the shared drive, for the player programs to find it. The server writes
// its dotted IPv4 address, with no line end; a reader takes a dotted IPv4
// address, surrounding blanks and line ends allowed, and nothing else.
#pragma once

#include <string>

namespace qova {

#ifdef _WIN32
constexpr const char* kMarkerPath = "S:\\Zelk9\\HostIP\\hostIP.dat";
#else
// Elsewhere the shared drive is expected mounted at /mnt/S.
constexpr const char* kMarkerPath = "/mnt/S/Zelk9/HostIP/hostIP.dat";
#endif

// Whether `text` is a dotted IPv4 address (four decimal parts 0..255, each of
// one to three digits).
bool isDottedIPv4(const std::string& text);

// The address the marker file at `path` announces. False when the file
// cannot be read or does not hold a dotted IPv4 address (blanks, tabs, CR and
// LF around it ignored; only its first 256 bytes are looked at).
bool readServerMarker(const std::string& path, std::string* address);

// Writes `address` as the whole marker file at `path`, with no line end.
// Silently does nothing when the file cannot be made (no shared drive).
void writeServerMarker(const std::string& path, const std::string& address);

}  // namespace qova
