#include "web/local_addresses.h"

#include <fstream>

#ifdef _WIN32
// iphlpapi.h needs winsock2.h first.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#endif

namespace qova::web {

namespace {

void addUnique(std::vector<std::string>* list, const std::string& a) {
  for (const std::string& x : *list) {
    if (x == a) return;
  }
  list->push_back(a);
}

std::string dotted(const in_addr& addr) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

}  // namespace

std::vector<std::string> localIPv4Addresses() {
  std::vector<std::string> out;
#ifdef _WIN32
  ULONG size = 16384;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersAddresses(
        AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc == NO_ERROR) {
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
      if (a->OperStatus != IfOperStatusUp) continue;
      for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
        auto* sin = reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr);
        if (sin->sin_family != AF_INET) continue;
        if ((ntohl(sin->sin_addr.s_addr) >> 24) == 127) continue;
        addUnique(&out, dotted(sin->sin_addr));
      }
    }
  }
#else
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
      auto* sin = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
      if ((ntohl(sin->sin_addr.s_addr) >> 24) == 127) continue;
      addUnique(&out, dotted(sin->sin_addr));
    }
    freeifaddrs(list);
  }
#endif
  if (out.empty()) out.push_back("127.0.0.1");
  return out;
}

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

std::string chooseServerAddress(const std::string& option, const std::string& markerPath,
                                std::string* source) {
  if (!option.empty()) {
    *source = "--server";
    return option;
  }
  std::ifstream in(markerPath, std::ios::binary);
  if (in) {
    std::string text(256, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    size_t b = text.find_first_not_of(" \t\r\n");
    size_t e = text.find_last_not_of(" \t\r\n");
    if (b != std::string::npos) text = text.substr(b, e - b + 1);
    if (isDottedIPv4(text)) {
      *source = "marker file";
      return text;
    }
  }
  *source = "default";
  return "127.0.0.1";
}

}  // namespace qova::web
