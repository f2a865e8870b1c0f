#include "web/gateway/local_addresses.h"

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

#include "wire/server_marker.h"

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

bool isOwnAddress(const std::string& dotted) {
  in_addr addr{};
  if (inet_pton(AF_INET, dotted.c_str(), &addr) != 1) return false;
  if ((ntohl(addr.s_addr) >> 24) == 127) return true;
  std::string canonical = qova::web::dotted(addr);
  for (const std::string& own : localIPv4Addresses()) {
    if (own == canonical) return true;
  }
  return false;
}

std::string chooseServerAddress(const std::string& option, const std::string& markerPath,
                                std::string* source) {
  if (!option.empty()) {
    *source = "--server";
    return option;
  }
  std::string marker;
  if (readServerMarker(markerPath, &marker)) {
    *source = "marker file";
    return marker;
  }
  *source = "default";
  return "127.0.0.1";
}

}  // namespace qova::web
