// test_player: plays a quiz server as one or many players from one process,
// checks every message the server sends, and prints a transcript.
//
//   test_player [options]
//     --host ADDRESS       server address (default 127.0.0.1)
//     --port PORT          server port (default 5632)
//     --players N          number of players, one connection each (default 1)
//     --name-prefix TEXT   players are named TEXT1, TEXT2, ... (default "Player")
//     --names A,B,...      the players' names exactly (sets the count if --players
//                          is not given)
//     --delay MS[,MS...]   answer delay in milliseconds per player, cycled (default 0)
//     --verdicts P[,P...]  verdict pattern per player, cycled over the players;
//                          each pattern is cycled over the questions: r right,
//                          any other letter wrong (default "r"; e.g. "rw")
//     --times T[:T...][,...]  time texts per player (colon-separated, cycled over
//                          the questions; the comma lists are cycled over the
//                          players); default: the measured delay in seconds
//     --questions N        leave after N questions (0: play until the server closes)
//     --misbehave [I=]KIND misbehave as player I (0-based; without I: every
//                          player); repeatable. KIND is one of
//                            no-name                never send the name
//                            drop:handshake         close when the settings arrive
//                            drop:lobby             close right after the name
//                            drop:question[:N]      close when question N arrives
//                            drop:answered[:N]      close right after answering N
//                            pieces                 send answers in three pieces
//                            lobby-bytes            send a byte during the lobby
//                            flood:name[:BYTES]     bytes without a line end, no name
//                            flood:answer[:BYTES[:N]]  same instead of answer N
//                            stall[:MS[:N]]         at question N neither read nor
//                                                   answer for MS (default 20000),
//                                                   then answer late
//     --piece-delay MS     pause between answer pieces (default 50)
//     --timeout MS         give up after MS without anything from the server
//     --connect-retry MS   try a refused connect again every 100 ms for MS
//                          (a server shows its window just before it listens)
//     --verbose            also one line per player listed in results and summaries
//     --quiet              print only violations and the final line
//
// Output: one line per event, "<player> <event> <fields>", then
// "done players=N violations=V". Exit code 0 when every message followed the
// protocol, 1 on any violation (a failed connect and a timeout count too),
// 2 for a bad command line.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/test_player.h"

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

bool toNumber(const std::string& text, long low, long high, long* value) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

// Only violations and the final line pass.
class QuietFilter : public std::stringbuf {
 public:
  int sync() override {
    std::string all = str();
    size_t from = 0, end;
    while ((end = all.find('\n', from)) != std::string::npos) {
      std::string line = all.substr(from, end - from);
      if (line.find(" violation ") != std::string::npos || line.compare(0, 5, "done ") == 0) {
        std::cout << line << '\n';
      }
      from = end + 1;
    }
    str(all.substr(from));
    std::cout.flush();
    return 0;
  }
};

int usage(const std::string& why) {
  std::cerr << "test_player: " << why
            << "\n(see the top of test_player_main.cpp or tools/README.md)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qova::GroupOptions options;
  long players = -1;
  std::string prefix = "Player";
  std::vector<std::string> names, delays, verdicts, times;
  std::vector<std::pair<long, std::string>> misbehaviours;
  long questions = 0, pieceDelay = 50, timeout = 0, connectRetry = 0, port = qova::kServerPort;
  bool quiet = false;
  for (int a = 1; a < argc; ++a) {
    std::string arg = argv[a];
    auto value = [&](std::string* out) {
      if (a + 1 >= argc) return false;
      *out = argv[++a];
      return true;
    };
    std::string v;
    if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (!value(&v)) {
      return usage("unknown option or missing value: " + arg);
    } else if (arg == "--host") {
      options.host = v;
    } else if (arg == "--port") {
      if (!toNumber(v, 1, 65535, &port)) return usage("bad port " + v);
    } else if (arg == "--players") {
      if (!toNumber(v, 1, 100000, &players)) return usage("bad player count " + v);
    } else if (arg == "--name-prefix") {
      prefix = v;
    } else if (arg == "--names") {
      names = split(v, ',');
    } else if (arg == "--delay") {
      delays = split(v, ',');
    } else if (arg == "--verdicts") {
      verdicts = split(v, ',');
    } else if (arg == "--times") {
      times = split(v, ',');
    } else if (arg == "--questions") {
      if (!toNumber(v, 0, 1000000000, &questions)) return usage("bad question count " + v);
    } else if (arg == "--piece-delay") {
      if (!toNumber(v, 0, 600000, &pieceDelay)) return usage("bad piece delay " + v);
    } else if (arg == "--timeout") {
      if (!toNumber(v, 0, 100000000, &timeout)) return usage("bad timeout " + v);
    } else if (arg == "--connect-retry") {
      if (!toNumber(v, 0, 100000000, &connectRetry)) return usage("bad retry time " + v);
    } else if (arg == "--misbehave") {
      long who = -1;
      std::string kind = v;
      size_t eq = v.find('=');
      if (eq != std::string::npos) {
        if (!toNumber(v.substr(0, eq), 0, 100000, &who)) return usage("bad player in " + v);
        kind = v.substr(eq + 1);
      }
      misbehaviours.push_back({who, kind});
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (players < 0) players = names.empty() ? 1 : static_cast<long>(names.size());
  for (long i = 0; i < players; ++i) {
    qova::PlayerPlan plan;
    size_t k = static_cast<size_t>(i);
    plan.name = k < names.size() ? names[k] : prefix + std::to_string(i + 1);
    if (plan.name.empty()) return usage("player names must not be empty");
    if (plan.name.find('\r') != std::string::npos || plan.name.find('\n') != std::string::npos) {
      return usage("player names must not hold line ends");
    }
    if (!delays.empty()) {
      long d;
      if (!toNumber(delays[k % delays.size()], 0, 3600000, &d)) return usage("bad delay");
      plan.answerDelayMs = static_cast<int>(d);
    }
    if (!verdicts.empty()) plan.verdicts = verdicts[k % verdicts.size()];
    if (!times.empty()) plan.times = split(times[k % times.size()], ':');
    plan.questionsToPlay = static_cast<int>(questions);
    plan.pieceDelayMs = static_cast<int>(pieceDelay);
    for (const auto& m : misbehaviours) {
      if (m.first >= 0 && m.first != i) continue;
      if (!qova::parseMisbehaviour(m.second, &plan.misbehaviour, &plan.atQuestion, &plan.floodBytes,
                                   &plan.stallMs)) {
        return usage("unknown misbehaviour " + m.second);
      }
    }
    options.players.push_back(plan);
  }
  for (const auto& m : misbehaviours) {
    if (m.first >= players) return usage("no player " + std::to_string(m.first));
  }
  options.port = static_cast<uint16_t>(port);
  options.timeoutMs = static_cast<int>(timeout);
  options.connectRetryMs = static_cast<int>(connectRetry);
  qova::raiseOpenFileLimit(players + 64);

  QuietFilter filter;
  std::ostream quietStream(&filter);
  options.transcript = quiet ? &quietStream : &std::cout;
  qova::PlayerGroup group(options);
  int violations = group.run();
  if (quiet) quietStream.flush();
  return violations == 0 ? 0 : 1;
}
