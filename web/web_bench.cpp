// Figures, not a test: N browser pages through the gateway against the real
// engine, all in one process on loopback (engine, gateway and pages each on
// a thread of their own). Every page joins, then answers each question at
// once; the program reports how long the seats took to join and how long
// each question took from the first page seeing it to the last page seeing
// its results.
//
//   web_bench [PAGES] [QUESTIONS]     (defaults 1000 and 4, two per round)
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/test_support.h"
#include "server/game_engine.h"
#include "server/lobby.h"
#include "server/server_test_support.h"
#include "web/gateway.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Bench;

struct BenchPage : std::enable_shared_from_this<BenchPage> {
  BenchPage(asio::io_context& io, Bench* b, int i) : ws(io), bench(b), index(i) {}
  websocket::stream<beast::tcp_stream> ws;
  beast::flat_buffer buffer;
  Bench* bench;
  int index;
  std::deque<std::string> out;
  bool writing = false;

  void start(uint16_t port);
  void read();
  void send(std::string text) {
    out.push_back(std::move(text));
    if (!writing) write();
  }
  void write() {
    if (out.empty()) return;
    writing = true;
    auto self = shared_from_this();
    ws.async_write(asio::buffer(out.front()), [self](error_code ec, size_t) {
      self->writing = false;
      if (ec) return;
      self->out.pop_front();
      self->write();
    });
  }
};

struct Bench {
  int pages = 1000;
  int questions = 4;
  int welcomed = 0;
  int failed = 0;
  std::vector<int> resultsSeen;                // per question
  std::vector<Clock::time_point> firstSeen;    // per question
  std::vector<Clock::time_point> lastResults;  // per question
  int finished = 0;
};

void BenchPage::start(uint16_t port) {
  auto self = shared_from_this();
  beast::get_lowest_layer(ws).async_connect(
      tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), [self](error_code ec) {
        if (ec) return void(++self->bench->failed);
        self->ws.async_handshake("127.0.0.1", "/ws", [self](error_code hec) {
          if (hec) return void(++self->bench->failed);
          self->ws.text(true);
          self->send(
              nlohmann::json{{"t", "join"}, {"name", "P" + std::to_string(self->index)}}.dump());
          self->read();
        });
      });
}

void BenchPage::read() {
  auto self = shared_from_this();
  ws.async_read(buffer, [self](error_code ec, size_t) {
    if (ec) return;
    nlohmann::json m =
        nlohmann::json::parse(beast::buffers_to_string(self->buffer.data()), nullptr, false);
    self->buffer.consume(self->buffer.size());
    Bench& b = *self->bench;
    std::string t = m.is_object() && m["t"].is_string() ? m["t"].get<std::string>() : "";
    if (t == "welcome") ++b.welcomed;
    if (t == "refused") ++b.failed;
    if (t == "question") {
      int q = m["q"].get<int>();
      if (q <= b.questions && b.firstSeen[q - 1] == Clock::time_point()) {
        b.firstSeen[q - 1] = Clock::now();
      }
      self->send(nlohmann::json{{"t", "answer"}, {"q", q}, {"choice", 1}}.dump());
    }
    if (t == "results") {
      int q = m["q"].get<int>();
      if (q <= b.questions && ++b.resultsSeen[q - 1] == b.pages) {
        b.lastResults[q - 1] = Clock::now();
        if (q == b.questions) b.finished = 1;
      }
    }
    self->read();
  });
}

}  // namespace

int main(int argc, char** argv) {
  Bench bench;
  if (argc > 1) bench.pages = std::max(1, std::atoi(argv[1]));
  if (argc > 2) bench.questions = std::max(1, std::atoi(argv[2]));
  bench.resultsSeen.assign(bench.questions, 0);
  bench.firstSeen.assign(bench.questions, Clock::time_point());
  bench.lastResults.assign(bench.questions, Clock::time_point());
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  qova::socketStartup();
  qova::testing::TempDir dir;
  qova::ServerAppRef app;
  app->markerPath = dir.file("hostIP.dat");
  app->resultsFileName = dir.file("endscores.txt");
  app->timeLimitText = "30";
  app->questionsPerRound = 2;
  qova::testing::writeFileBytes(dir.file("q.qdb"), qova::testing::numberedQuestionFile(40, 4));
  app->questions.load(dir.file("q.qdb"));
  qova::LobbyState lobby;
  lobby.port = 0;
  if (!qova::beginLobby(*app, lobby)) return 1;
  std::atomic<bool> start{false}, stop{false};
  std::atomic<int> connected{0};
  std::thread server([&] {
    pthread_setname_np(pthread_self(), "engine");
    while (!start) {
      qova::lobbyPass(*app, lobby, 1);
      connected = static_cast<int>(app->clients.size());
    }
    app->lobbyOutcome = qova::kLobbyStart;
    qova::endLobby(*app, lobby);
    qova::GameState game;
    while (!stop && qova::gameTick(*app, game))
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    qova::shutdownServer(0);
  });

  qova::web::GatewayOptions o;
  o.serverPort = lobby.listener->localPort();
  o.httpAddress = "127.0.0.1";
  o.httpPort = 0;
  o.maxSeats = static_cast<size_t>(bench.pages);
  o.joinsPerAddressPerSecond = 1 << 30;  // every page comes from 127.0.0.1 here
  o.pauses = {0, 0};
  qova::web::Gateway gateway(o);
  std::string error;
  if (!gateway.start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  uint16_t port = gateway.httpPort();
  std::thread gatewayThread([&] {
    pthread_setname_np(pthread_self(), "gateway");
    gateway.run();
  });

  asio::io_context io;
  std::vector<std::shared_ptr<BenchPage>> pages;
  Clock::time_point joinStart = Clock::now();
  for (int i = 0; i < bench.pages; ++i) {
    pages.push_back(std::make_shared<BenchPage>(io, &bench, i));
    pages.back()->start(port);
  }
  while ((bench.welcomed + bench.failed < bench.pages || connected < bench.welcomed) &&
         secondsSince(joinStart) < 120) {
    io.run_for(std::chrono::milliseconds(10));
  }
  double joinSeconds = secondsSince(joinStart);
  std::printf("%d pages: %d welcomed, %d failed, %d seated in the engine in %.2f s\n", bench.pages,
              bench.welcomed, bench.failed, connected.load(), joinSeconds);
  Clock::time_point gameStart = Clock::now();
  start = true;
  while (!bench.finished && secondsSince(gameStart) < 300)
    io.run_for(std::chrono::milliseconds(10));
  for (int q = 0; q < bench.questions; ++q) {
    double span =
        bench.lastResults[q] == Clock::time_point()
            ? -1
            : std::chrono::duration<double>(bench.lastResults[q] - bench.firstSeen[q]).count();
    std::printf(
        "question %d: results at every page %.3f s after the first page saw it (%d pages)\n", q + 1,
        span, bench.resultsSeen[q]);
  }
  // CPU time of each thread so far: where the time of a question goes.
  std::string ps = "ps -L -o comm=,time= -p " + std::to_string(getpid());
  std::fflush(stdout);
  if (std::system(ps.c_str()) != 0) std::printf("(no thread times)\n");
  stop = true;
  server.join();
  gateway.stop();
  gatewayThread.join();
  return bench.finished ? 0 : 1;
}
