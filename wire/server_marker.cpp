#include "wire/server_marker.h"

#include <fstream>

namespace qova {

bool isDottedIPv4(const std::string& text) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    if (i == start || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

bool readServerMarker(const std::string& path, std::string* address) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string text(256, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return false;
  size_t e = text.find_last_not_of(" \t\r\n");
  text = text.substr(b, e - b + 1);
  if (!isDottedIPv4(text)) return false;
  *address = text;
  return true;
}

void writeServerMarker(const std::string& path, const std::string& address) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(address.data(), static_cast<std::streamsize>(address.size()));
}

}  // namespace qova
