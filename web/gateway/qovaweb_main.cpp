// qovaweb: the browser players' gateway as a console program. It prints the
// links that phones open, the quiz server it plays against, and the seats as
// they come and go.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/gateway/gateway.h"
#include "web/gateway/local_addresses.h"
#include "wire/server_marker.h"

namespace {

const char kUsage[] =
    "Usage: qovaweb [--server ADDR] [--http-port P] [--max-seats N]\n"
    "               [--seats-per-address N] [--hold-ms MS]\n"
    "  --server ADDR    the quiz server's IPv4 address (default: the address in\n"
    "                   the server's marker file, else 127.0.0.1)\n"
    "  --http-port P    port for the players' browsers (default 8080)\n"
    "  --max-seats N    most players at once (default 1000)\n"
    "  --seats-per-address N  most players from one client address (default 8;\n"
    "                   more for a room whose phones share one address)\n"
    "  --hold-ms MS     for tests and benchmarks: how long results and a leaderboard\n"
    "                   stay before the next question (default 3000 and 6000)\n";

volatile std::sig_atomic_t quit = 0;

void onSignal(int) { quit = 1; }

bool number(const char* text, long min, long max, long* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string serverOption;
  qova::web::GatewayOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    long v = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--server" && i + 1 < argc) {
      serverOption = argv[++i];
      if (!qova::isDottedIPv4(serverOption)) {
        std::fprintf(stderr, "qovaweb: --server needs a dotted IPv4 address, not \"%s\"\n",
                     serverOption.c_str());
        return 2;
      }
    } else if (arg == "--http-port" && i + 1 < argc && number(argv[i + 1], 1, 65535, &v)) {
      options.httpPort = static_cast<uint16_t>(v);
      ++i;
    } else if (arg == "--max-seats" && i + 1 < argc && number(argv[i + 1], 1, 100000, &v)) {
      options.maxSeats = static_cast<size_t>(v);
      ++i;
    } else if (arg == "--seats-per-address" && i + 1 < argc && number(argv[i + 1], 1, 100000, &v)) {
      options.seatsPerAddress = static_cast<size_t>(v);
      ++i;
    } else if (arg == "--hold-ms" && i + 1 < argc && number(argv[i + 1], 0, 600000, &v)) {
      options.pauses = {v, v};
      ++i;
    } else {
      std::fprintf(stderr, "qovaweb: cannot use the option \"%s\"\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  std::string source;
  options.serverHost = qova::web::chooseServerAddress(serverOption, qova::kMarkerPath, &source);
  for (const std::string& a : qova::web::localIPv4Addresses()) {
    options.links.push_back("http://" + a + ":" + std::to_string(options.httpPort) + "/");
  }
  options.files = qova::web::appFiles();
  options.log = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };

  // Each seat holds two sockets; the usual soft limit of 1,024 descriptors
  // would stop a full room well short of the seat limit.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  qova::web::Gateway gateway(options);
  std::string error;
  if (!gateway.start(&error)) {
    std::fprintf(stderr, "qovaweb: %s\n", error.c_str());
    return 1;
  }
  std::printf("Players join at:\n");
  for (const std::string& link : options.links) std::printf("  %s\n", link.c_str());
  if (!options.links.empty()) {
    std::printf("Room screen (for the projector): %sscreen\n", options.links[0].c_str());
    // The key goes after '#': a browser never sends it in a request.
    if (!gateway.hostKey().empty()) {
      std::printf("Host controls: %shost#%s\n", options.links[0].c_str(),
                  gateway.hostKey().c_str());
    }
  }
  std::printf("Quiz server: %s port %u (%s)\n", options.serverHost.c_str(),
              static_cast<unsigned>(options.serverPort), source.c_str());
  if (options.files.count == 0) std::printf("Note: this build holds no page files.\n");
  std::fflush(stdout);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  // Ctrl+C ends the gateway between turns of its loop.
  while (!quit) gateway.runFor(200);
  std::printf("Gateway stopped.\n");
  return 0;
}
