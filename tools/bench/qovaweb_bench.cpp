// Figures, not a test: the qovaweb program, as a process of its own, between
// the quiz engine and N WebSocket pages, beside N direct TCP players of the
// same engine in the same run (same settings, same questions). Every seat
// answers each question at once. For each size it reports, per question, the
// time from the last answer sent to the last results received (median and
// p99, and their ratio to the direct players'), the mean WebSocket payload
// bytes a page receives per question, and qovaweb's CPU time and peak
// resident memory (from wait4 when it has been stopped).
//
//   qovaweb_bench [--quick] [--seats N,N,...] [--rounds N] [--screen] [--feed]
//                 [--qovaweb PATH]
//   (--rounds: rounds of 10 questions, 2 unless given; over 20 questions the
//   p99 is the slowest one, over 100 the second slowest;
//   --screen: one room screen open on /screen/ws; its bytes per question;
//   --feed: after the web run of each size, the same run again with the
//   engine's room feed open (qovaweb follows it) and one room screen, and
//   its figures beside those of the run without: the pages' p99, the feed's
//   bytes and the engine's CPU per question)
//
// The engine listens on the quiz server's port (5632), its room feed (with
// --feed) on 5633 and qovaweb on 8080: run it in a network namespace of its
// own. The pages come from distinct
// loopback addresses (127.1.x.y), so the gateway's limit of new seats per
// address per second does not slow their joining; qovaweb runs with
// --hold-ms 0 (no pause before the next question) since the results'
// latency is what is measured. The engine runs the server's own loop: its
// wait over every socket and its turn over those found ready.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/socket_wait.h"
#include "server/game_engine.h"
#include "server/lobby.h"
#include "server/room_feed.h"
#include "testing/loopback_peer.h"
#include "testing/test_qdb_file.h"
#include "testing/test_support.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kResponses = 4;
constexpr uint16_t kHttpPort = 8080;

double msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t index = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(index, v.size() - 1)];
}

// How long a game of `questions` may take before the run counts as failed.
std::chrono::seconds gameTimeLimit(int questions) {
  return std::chrono::seconds(std::max(180, 3 * questions));
}

// Per question: when the last seat's answer went out and when the last
// seat had its results.
struct Timeline {
  explicit Timeline(int questions)
      : lastAnswer(questions), lastResults(questions), resultsDone(questions, 0) {}
  std::vector<Clock::time_point> lastAnswer, lastResults;
  std::vector<int> resultsDone;
  std::vector<double> latencies(int seats) const {
    std::vector<double> out;
    for (size_t q = 0; q < lastAnswer.size(); ++q) {
      if (resultsDone[q] == seats) out.push_back(msBetween(lastAnswer[q], lastResults[q]));
    }
    return out;
  }
};

// The engine on a thread of its own, in the server's own loop (its wait and
// its turn, no pause or poll of its own): the lobby until start, then the
// game until stop. Every game of the run has the same settings and
// questions.
class Engine {
 public:
  // feedPort: the room feed's port, -1 for none.
  Engine(uint16_t port, int perRound, int feedPort = -1) {
    qova::testing::writeFileBytes(dir_.file("bench.qdb"),
                                  qova::testing::benchQuestionFile(200, kResponses));
    app_->markerPath = dir_.file("hostIP.dat");
    app_->resultsFileName = dir_.file("endscores.txt");
    app_->timeLimitText = "30";
    app_->questionsPerRound = perRound;
    lobby_.port = port;
    app_->feed.port = feedPort;
    ok_ = app_->questions.load(dir_.file("bench.qdb")) == 200 && qova::beginLobby(*app_, lobby_) &&
          (feedPort < 0 || qova::roomFeedPort(*app_) != 0);
    if (ok_) thread_ = std::thread([this] { loop(); });
  }
  ~Engine() {
    stop();
    app_->clients.clear();
  }
  // Ends the engine's thread; safe to repeat.
  void stop() {
    stop_ = true;
    start_ = true;
    wait_.wake();
    if (thread_.joinable()) thread_.join();
  }
  // The bytes the room feed queued for its clients from the start of the
  // game; read once stop() has returned.
  uint64_t feedBytesInGame() const { return app_->feed.bytesQueued - feedBytesAtStart_; }
  bool ok() const { return ok_; }
  uint16_t port() const { return lobby_.listener->localPort(); }
  int connected() const { return connected_; }
  void start() {
    start_ = true;
    wait_.wake();
  }
  // The engine thread's CPU seconds so far.
  double cpuSeconds() {
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 ||
        clock_gettime(clock, &t) != 0)
      return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }

 private:
  void loop() {
    while (!start_) {
      qova::lobbyWaitPass(*app_, lobby_, wait_);
      connected_ = static_cast<int>(app_->clients.size());
    }
    feedBytesAtStart_ = app_->feed.bytesQueued;
    app_->lobbyOutcome = qova::kLobbyStart;
    qova::endLobby(*app_, lobby_);
    qova::GameState game;
    while (!stop_ && qova::gameWaitTurn(*app_, game, wait_)) {
    }
  }

  qova::testing::TempDir dir_;
  qova::ServerAppRef app_;
  qova::LobbyState lobby_;
  qova::SocketWait wait_;
  bool ok_ = false;
  std::atomic<bool> start_{false}, stop_{false};
  std::atomic<int> connected_{0};
  uint64_t feedBytesAtStart_ = 0;  // written by the engine's thread before the game
  std::thread thread_;
};

// The engine's CPU seconds per second over `seconds` of rest.
double restCpu(Engine& engine, double seconds) {
  const Clock::time_point start = Clock::now();
  const double cpu0 = engine.cpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (engine.cpuSeconds() - cpu0) / (msBetween(start, Clock::now()) / 1000.0);
}

// What the engine cost: CPU seconds per question, and per second at rest
// in a question nobody answers (after the game's last question).
struct EngineCpu {
  double perQuestion = -1, idlePerSecond = -1;
};

// ---- Direct players: the player program's line protocol, counted in lines.

struct DirectPlayer {
  qova::testing::LoopbackPeer peer;
  enum Phase { kSettings, kQuestion, kResults, kSummary } phase = kSettings;
  int linesLeft = 3;
  int question = 0;  // questions answered
};

bool runDirect(int n, int rounds, int perRound, std::vector<double>* latency, EngineCpu* cpu) {
  Engine engine(0, perRound);
  if (!engine.ok()) return false;
  const int total = rounds * perRound;
  std::vector<DirectPlayer> players(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (!players[i].peer.connect(engine.port())) return false;
    players[i].peer.send("Player " + std::to_string(i + 1) + "\r\n");
  }
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  while (engine.connected() < n && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (engine.connected() < n) return false;
  const double cpu0 = engine.cpuSeconds();
  engine.start();

  Timeline line(total);
  std::vector<pollfd> fds(players.size());
  for (size_t i = 0; i < players.size(); ++i)
    fds[i] = pollfd{static_cast<int>(players[i].peer.fd()), POLLIN, 0};
  std::vector<char> buffer(1 << 16);
  int finished = 0, closed = 0;
  deadline = Clock::now() + gameTimeLimit(total);
  while (finished + closed < n && Clock::now() < deadline) {
    if (poll(fds.data(), fds.size(), 200) <= 0) continue;
    for (size_t i = 0; i < players.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      DirectPlayer& p = players[i];
      ssize_t got = recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got <= 0) {
        fds[i].fd = -1;
        ++closed;
        continue;
      }
      const char* at = buffer.data();
      const char* end = at + got;
      while (
          (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at))))) {
        ++at;
        if (--p.linesLeft > 0) continue;
        switch (p.phase) {
          case DirectPlayer::kSettings:
          case DirectPlayer::kSummary:
            p.phase = DirectPlayer::kQuestion;
            p.linesLeft = 2 + kResponses;
            if (p.question == total) {
              fds[i].events = 0;  // what follows (the next question) is not counted
              ++finished;
              at = end;
            }
            break;
          case DirectPlayer::kQuestion:
            if (p.question < total) {
              p.peer.send(i % 3 == 0 ? "1.25\r\nw" : "0.5\r\nr");
              line.lastAnswer[p.question] = Clock::now();
            }
            p.phase = DirectPlayer::kResults;
            p.linesLeft = 3 * n + 1;
            break;
          case DirectPlayer::kResults:
            line.lastResults[p.question] = Clock::now();
            ++line.resultsDone[p.question];
            ++p.question;
            if (p.question % perRound == 0) {
              p.phase = DirectPlayer::kSummary;
              p.linesLeft = 7 * n + 1;
            } else {
              p.phase = DirectPlayer::kQuestion;
              p.linesLeft = 2 + kResponses;
            }
            break;
        }
      }
    }
  }
  *latency = line.latencies(n);
  if (finished == n) {
    cpu->perQuestion = (engine.cpuSeconds() - cpu0) / total;
    // Nobody answers the question after the last summary.
    cpu->idlePerSecond = restCpu(engine, 1.0);
  }
  return finished == n;
}

// ---- Web pages: Beast WebSocket clients, all on one thread.

struct WebRun {
  int seats = 0, questions = 0;
  int welcomed = 0, failed = 0;
  bool counting = false;                        // the game is under way: payload bytes count
  uint64_t pageBytes = 0;                       // payload bytes the pages received while counting
  int64_t screenBytes = 0, screenMessages = 0;  // a room screen's, during the questions
  Timeline line{0};
};

// The value of the numeric field `key` ("\"q\":") near the head of a
// message, or 0.
int numberField(std::string_view m, const char* key) {
  m = m.substr(0, 64);
  size_t at = m.find(key);
  if (at == std::string_view::npos) return 0;
  int value = 0;
  for (at += std::strlen(key); at < m.size() && m[at] >= '0' && m[at] <= '9'; ++at)
    value = value * 10 + (m[at] - '0');
  return value;
}

struct Page : std::enable_shared_from_this<Page> {
  Page(asio::io_context& io, WebRun* r, int i) : ws(io), run(r), index(i) {}
  websocket::stream<beast::tcp_stream> ws;
  beast::flat_buffer buffer;
  WebRun* run;
  int index;
  std::deque<std::pair<std::string, int>> out;  // text, question it answers (0: none)
  bool writing = false;

  void start() {
    auto self = shared_from_this();
    tcp::socket& s = beast::get_lowest_layer(ws).socket();
    error_code ec;
    s.open(tcp::v4(), ec);
    // 127.1.x.y: a loopback address of its own for each page.
    if (!ec)
      s.bind(
          tcp::endpoint(asio::ip::address_v4(0x7F010000u + 1u + static_cast<unsigned>(index)), 0),
          ec);
    if (ec) return void(++run->failed);
    beast::get_lowest_layer(ws).async_connect(
        tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), kHttpPort), [self](error_code cec) {
          if (cec) return void(++self->run->failed);
          // As browsers do: no small message waits for an acknowledgement.
          error_code nec;
          beast::get_lowest_layer(self->ws).socket().set_option(tcp::no_delay(true), nec);
          self->ws.async_handshake("127.0.0.1", "/ws", [self](error_code hec) {
            if (hec) return void(++self->run->failed);
            self->ws.text(true);
            self->send("{\"t\":\"join\",\"name\":\"P" + std::to_string(self->index) + "\"}", 0);
            self->read();
          });
        });
  }
  void send(std::string text, int answers) {
    out.emplace_back(std::move(text), answers);
    if (!writing) write();
  }
  void write() {
    if (out.empty()) return;
    writing = true;
    auto self = shared_from_this();
    ws.async_write(asio::buffer(out.front().first), [self](error_code ec, size_t) {
      self->writing = false;
      if (ec) return;
      int q = self->out.front().second;
      if (q > 0 && q <= self->run->questions) self->run->line.lastAnswer[q - 1] = Clock::now();
      self->out.pop_front();
      self->write();
    });
  }
  void read() {
    auto self = shared_from_this();
    ws.async_read(buffer, [self](error_code ec, size_t) {
      if (ec) return;
      // Only the head of a message is looked at: the type comes first.
      // A flat buffer holds the message in one piece; it is not copied.
      auto data = self->buffer.data();
      std::string_view m(static_cast<const char*>(data.data()), data.size());
      WebRun& r = *self->run;
      if (r.counting) r.pageBytes += m.size();
      auto is = [&](const char* type) { return m.substr(0, std::strlen(type)) == type; };
      if (is("{\"t\":\"welcome\"")) ++r.welcomed;
      if (is("{\"t\":\"refused\"") || is("{\"t\":\"ended\"")) ++r.failed;
      if (is("{\"t\":\"question\"")) {
        int q = numberField(m, "\"q\":");
        self->send("{\"t\":\"answer\",\"q\":" + std::to_string(q) + ",\"choice\":1}", q);
      }
      if (is("{\"t\":\"results\"")) {
        int q = numberField(m, "\"q\":");
        if (q > 0 && q <= r.questions) {
          r.line.lastResults[q - 1] = Clock::now();
          ++r.line.resultsDone[q - 1];
        }
      }
      self->buffer.consume(self->buffer.size());
      self->read();
    });
  }
};

// A room screen (--screen): reads its view messages and counts them.
struct ScreenClient : std::enable_shared_from_this<ScreenClient> {
  ScreenClient(asio::io_context& io, WebRun* r) : ws(io), run(r) {}
  websocket::stream<beast::tcp_stream> ws;
  beast::flat_buffer buffer;
  WebRun* run;

  void start() {
    auto self = shared_from_this();
    beast::get_lowest_layer(ws).async_connect(
        tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), kHttpPort), [self](error_code ec) {
          if (ec) return;
          self->ws.async_handshake("127.0.0.1", "/screen/ws", [self](error_code hec) {
            if (!hec) self->read();
          });
        });
  }
  void read() {
    auto self = shared_from_this();
    ws.async_read(buffer, [self](error_code ec, size_t n) {
      if (ec) return;
      if (self->run->counting) {
        self->run->screenBytes += static_cast<int64_t>(n);
        ++self->run->screenMessages;
      }
      self->buffer.consume(self->buffer.size());
      self->read();
    });
  }
};

// qovaweb's CPU seconds so far, from /proc/PID/stat (utime + stime).
double processCpuSeconds(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char text[1024] = {};
  size_t got = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[got] = 0;
  const char* at = std::strrchr(text, ')');  // the name may hold spaces
  if (!at) return 0;
  unsigned long utime = 0, stime = 0;
  // Fields after the name: state(3) ... utime(14) stime(15).
  if (std::sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) !=
      2)
    return 0;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double threadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool portOpen(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

struct WebFigures {
  bool completed = false;
  std::vector<double> latency;
  double cpuSeconds = 0, gameCpuSeconds = 0, peakMb = 0;
  double pagesCpuSeconds = 0;                  // the pages' thread, during the questions
  double pageBytesPerQuestion = 0;             // mean payload bytes one page received per question
  double screenBytes = 0, screenMessages = 0;  // per question, with --screen
  double engineCpuPerQuestion = -1;            // the engine serving qovaweb
  double feedBytesPerQuestion = -1;            // the room feed's, with the feed open
};

// With `feed`, the engine offers its room feed on its own port, which
// qovaweb (playing against 127.0.0.1) follows.
WebFigures runWeb(const std::string& qovaweb, int n, int rounds, int perRound, bool screen,
                  bool feed) {
  WebFigures f;
  Engine engine(qova::kServerPort, perRound, feed ? qova::kRoomFeedPort : -1);
  if (!engine.ok()) {
    std::printf("the engine cannot listen on port %u%s\n", qova::kServerPort,
                feed ? " or its room feed's" : "");
    return f;
  }
  qova::testing::TempDir dir;
  std::string log = dir.file("qovaweb.log");
  std::string seats = std::to_string(n), port = std::to_string(kHttpPort);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 1);
    execl(qovaweb.c_str(), "qovaweb", "--server", "127.0.0.1", "--http-port", port.c_str(),
          "--max-seats", seats.c_str(), "--hold-ms", "0", static_cast<char*>(nullptr));
    std::perror("exec qovaweb");
    _exit(127);
  }
  if (pid < 0) return f;
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (!portOpen(kHttpPort) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  WebRun run;
  run.seats = n;
  run.questions = rounds * perRound;
  run.line = Timeline(run.questions);
  asio::io_context io;
  std::vector<std::shared_ptr<Page>> pages;
  for (int i = 0; i < n; ++i) {
    pages.push_back(std::make_shared<Page>(io, &run, i));
    pages.back()->start();
  }
  auto screenClient = std::make_shared<ScreenClient>(io, &run);
  if (screen) screenClient->start();
  deadline = Clock::now() + std::chrono::seconds(60);
  while ((run.welcomed + run.failed < n || engine.connected() < run.welcomed) &&
         Clock::now() < deadline)
    io.run_for(std::chrono::milliseconds(10));
  if (run.welcomed == n && engine.connected() == n) {
    const double engineCpu0 = engine.cpuSeconds();
    f.gameCpuSeconds = -processCpuSeconds(pid);
    f.pagesCpuSeconds = -threadCpuSeconds();
    run.counting = true;
    engine.start();
    deadline = Clock::now() + gameTimeLimit(run.questions);
    while (run.line.resultsDone.back() < n && run.failed == 0 && Clock::now() < deadline)
      io.run_for(std::chrono::milliseconds(10));
    run.counting = false;
    f.pageBytesPerQuestion = static_cast<double>(run.pageBytes) / n / run.questions;
    f.gameCpuSeconds += processCpuSeconds(pid);
    f.pagesCpuSeconds += threadCpuSeconds();
    f.completed = run.line.resultsDone.back() == n;
    f.engineCpuPerQuestion = (engine.cpuSeconds() - engineCpu0) / run.questions;
    if (feed) {
      engine.stop();
      f.feedBytesPerQuestion = static_cast<double>(engine.feedBytesInGame()) / run.questions;
    }
    f.screenBytes = static_cast<double>(run.screenBytes) / run.questions;
    f.screenMessages = static_cast<double>(run.screenMessages) / run.questions;
  } else {
    std::printf("%d seats: %d welcomed, %d failed, %d in the engine\n", n, run.welcomed, run.failed,
                engine.connected());
  }
  f.latency = run.line.latencies(n);
  ::kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  deadline = Clock::now() + std::chrono::seconds(10);
  pid_t done = 0;
  while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && Clock::now() < deadline)
    io.run_for(std::chrono::milliseconds(10));  // the pages see their sockets close
  if (done == 0) {
    ::kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
  }
  f.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  f.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  return f;
}

// The qovaweb of the same build: build/native/web/gateway/ beside build/native/tools/bench/.
std::string defaultQovaweb() {
  char self[4096] = {};
  ssize_t got = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = got > 0 ? std::string(self, static_cast<size_t>(got)) : "";
  size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
         "/../../web/gateway/qovaweb";
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  bool screen = false;  // one room screen open beside the pages
  bool feed = false;    // each web run again with the room feed and one screen
  int rounds = 2;
  std::string qovaweb = defaultQovaweb();
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--seats") == 0 && i + 1 < argc) {
      for (char* at = argv[++i]; *at;) {
        char* end = nullptr;
        long v = std::strtol(at, &end, 10);
        if (end == at || v < 1 || v > 60000) {
          std::fprintf(stderr, "--seats: a list of counts such as 64,1024\n");
          return 2;
        }
        sizes.push_back(static_cast<int>(v));
        at = *end == ',' ? end + 1 : end;
      }
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (*end || v < 1 || v > 50) {
        std::fprintf(stderr, "--rounds: 1 to 50\n");
        return 2;
      }
      rounds = static_cast<int>(v);
    } else if (std::strcmp(argv[i], "--screen") == 0) {
      screen = true;
    } else if (std::strcmp(argv[i], "--feed") == 0) {
      feed = true;
    } else if (std::strcmp(argv[i], "--qovaweb") == 0 && i + 1 < argc) {
      qovaweb = argv[++i];
    } else {
      std::fprintf(stderr,
                   "Usage: qovaweb_bench [--quick] [--seats N,N,...] [--rounds N] [--screen] "
                   "[--feed] [--qovaweb PATH]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  qova::socketStartup();
  if (sizes.empty()) {
    sizes = quick ? std::vector<int>{16, 64} : std::vector<int>{64, 256, 1024, 2048};
  }
  const int perRound = 10;
  std::printf("%d questions (%d rounds of %d), every seat answering at once; qovaweb --hold-ms 0\n",
              rounds * perRound, rounds, perRound);
  std::printf("%6s %10s %10s %10s %10s %7s %7s %9s %9s %8s %9s %8s %9s %9s %9s\n", "seats",
              "direct med", "direct p99", "web med", "web p99", "med x", "p99 x", "cpu s",
              "game cpu", "peak MB", "pages cpu", "page B/q", "srv s/q d", "srv s/q w", "idle s/s");
  bool allGood = true;
  for (int n : sizes) {
    std::vector<double> direct;
    EngineCpu engineCpu;
    bool directGood = runDirect(n, rounds, perRound, &direct, &engineCpu);
    WebFigures web = runWeb(qovaweb, n, rounds, perRound, screen, false);
    double dm = percentile(direct, 0.5), dp = percentile(direct, 0.99);
    double wm = percentile(web.latency, 0.5), wp = percentile(web.latency, 0.99);
    std::printf(
        "%6d %10.2f %10.2f %10.2f %10.2f %7.2f %7.2f %9.2f %9.2f %8.1f %9.2f %8.0f %9.4f %9.4f "
        "%9.5f%s%s\n",
        n, dm, dp, wm, wp, dm > 0 ? wm / dm : 0.0, dp > 0 ? wp / dp : 0.0, web.cpuSeconds,
        web.gameCpuSeconds, web.peakMb, web.pagesCpuSeconds, web.pageBytesPerQuestion,
        engineCpu.perQuestion, web.engineCpuPerQuestion, engineCpu.idlePerSecond,
        directGood ? "" : "  DIRECT INCOMPLETE", web.completed ? "" : "  WEB INCOMPLETE");
    if (screen) {
      std::printf("%6s screen: %.0f bytes in %.1f messages per question\n", "", web.screenBytes,
                  web.screenMessages);
    }
    allGood = allGood && directGood && web.completed;
    if (feed) {
      WebFigures fed = runWeb(qovaweb, n, rounds, perRound, true, true);
      double fp = percentile(fed.latency, 0.99);
      std::printf(
          "%6s feed+screen: web p99 %.2f ms (x %.2f of %.2f without), srv s/q %.4f (x %.2f of "
          "%.4f without), feed %.0f B/q, screen %.0f B/q, qovaweb game cpu %.2f s (x %.2f)%s\n",
          "", fp, wp > 0 ? fp / wp : 0.0, wp, fed.engineCpuPerQuestion,
          web.engineCpuPerQuestion > 0 ? fed.engineCpuPerQuestion / web.engineCpuPerQuestion : 0.0,
          web.engineCpuPerQuestion, fed.feedBytesPerQuestion, fed.screenBytes, fed.gameCpuSeconds,
          web.gameCpuSeconds > 0 ? fed.gameCpuSeconds / web.gameCpuSeconds : 0.0,
          fed.completed ? "" : "  FEED RUN INCOMPLETE");
      allGood = allGood && fed.completed;
    }
    std::fflush(stdout);
  }
  std::printf(
      "(ms per question from the last answer sent to the last results received: direct, the\n"
      " last complete results message; web, the last \"results\" message; x: web / direct;\n"
      " cpu s: qovaweb's CPU time over its whole life (joins included); game cpu: during the\n"
      " questions only; peak MB: qovaweb's peak resident memory; pages cpu: the benchmark's\n"
      " WebSocket clients, one thread, during the questions; page B/q: mean WebSocket payload\n"
      " bytes a page received per question, questions, results and standings included;\n"
      " srv s/q: the engine's CPU seconds per question in its own loop (its wait and turn),\n"
      " d with the direct players, w with qovaweb; idle s/s: its CPU seconds per second\n"
      " during a question nobody answers, with the direct players; feed+screen (--feed): the\n"
      " web run again with the engine's room feed, which qovaweb follows, and one room screen:\n"
      " the pages' p99 and the engine's CPU per question beside the run without, the bytes the\n"
      " feed queued and the screen received per question, qovaweb's CPU in the questions)\n");
  return allGood ? 0 : 1;
}
