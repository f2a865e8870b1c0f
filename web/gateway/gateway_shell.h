// The parts of the gateway's network shell, shared by its source files
// (gateway.cpp, http_session.cpp, page_session.cpp, server_link.cpp); not
// for use elsewhere. One io_context on one thread: no locks. The shell owns
// the sockets and timers; SeatRegistry decides, and Impl::apply carries out
// what it decided.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "web/gateway/gateway.h"
#include "web/seat/feed_reader.h"
#include "web/seat/host_desk.h"
#include "web/seat/seat_registry.h"

namespace qova::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// Monotonic milliseconds, the registry's and the seats' time.
int64_t nowMs();
std::chrono::steady_clock::time_point atMs(int64_t ms);

struct HttpSession;
struct PageSession;
struct ServerLink;
struct FeedLink;

struct Gateway::Impl {
  explicit Impl(GatewayOptions o);

  GatewayOptions options;
  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer acceptPause;  // after a failed accept (out of descriptors, say)
  asio::steady_timer runLimit;     // ends runFor
  asio::steady_timer sweep;        // closes pages that hold no seat, once a second
  tcp::endpoint serverEndpoint;
  SeatRegistry registry;
  std::string hostKey;
  HostDesk host;                // the host pages' side
  asio::steady_timer hostWake;  // the desk's wake-ups
  int64_t hostWakeArmed = -1;
  PageId nextPage = 1;
  // Every open connection, so that shutdown can close them all.
  std::set<std::shared_ptr<HttpSession>> httpSessions;
  std::unordered_map<PageId, std::shared_ptr<PageSession>> pages;
  // Room screens: read-only sockets that hold no seat and are sent the
  // registry's screen view.
  std::unordered_map<PageId, std::shared_ptr<PageSession>> screens;
  // Host pages: sockets that hold no seat and talk to the desk alone.
  std::unordered_map<PageId, std::shared_ptr<PageSession>> hosts;
  uint64_t screenHoldSent = 1;   // the screen's hold version the screens have (its first)
  uint64_t screenViewSent = 0;   // the screen view's version the screens have
  uint64_t screenCountSent = 0;  // and its answered count's
  bool screenFlushPosted = false;
  std::map<SeatId, std::shared_ptr<ServerLink>> links;  // one per seat the registry holds
  // The quiz server's room feed, when the server runs on this computer.
  std::shared_ptr<FeedLink> feed;
  // What the server links read into, synchronously once a socket is
  // readable: shared, since one thread reads one socket at a time.
  std::vector<char> serverRead = std::vector<char>(256 * 1024);
  bool stopped = false;

  void accept();
  void armSweep();
  // Carries out the registry's actions.
  void apply(RegistryActions& actions);
  // Carries out the host desk's actions and sets its timer.
  void applyHost(HostActions& actions);
  void armHost();
  void shutdown();
  // After the registry's events: the screens get what changed, once for all
  // the events ready now (a room's answers arrive together).
  void screenChanged();
  void flushScreens();
  const EmbeddedFile* findFile(const std::string& path) const;
};

// One HTTP connection: requests one after another until it goes idle, or
// until it becomes a page's WebSocket.
struct HttpSession : std::enable_shared_from_this<HttpSession> {
  HttpSession(Gateway::Impl* gw, tcp::socket s, std::string address, bool resumeOnly)
      : gw(gw),
        socket(std::move(s)),
        idle(gw->io),
        address(std::move(address)),
        resumeOnly(resumeOnly) {}

  Gateway::Impl* gw;
  tcp::socket socket;
  asio::steady_timer idle;  // closes the connection when a request or response stalls
  std::string address;
  bool resumeOnly;  // a reserved connection: only a page's WebSocket is served
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::string_body>> parser;
  bool closed = false;

  void read();
  void armIdle();
  void handle();
  void respond(http::status status, const std::string& type, std::string body, bool keepAlive,
               unsigned version = 11);
  void close();
};

// One page's WebSocket.
struct PageSession : std::enable_shared_from_this<PageSession> {
  PageSession(Gateway::Impl* gw, PageId id, tcp::socket socket, std::string address)
      : gw(gw), id(id), ws(std::move(socket)), address(std::move(address)) {}

  Gateway::Impl* gw;
  PageId id;
  websocket::stream<tcp::socket> ws;  // its own timer watches for a silent page
  std::string address;
  beast::flat_buffer buffer;
  std::deque<PageText> queue;
  size_t queuedBytes = 0;
  bool writing = false;
  bool closed = false;
  bool screen = false;         // a room screen: sends nothing, holds no seat
  bool host = false;           // a host page: talks to the host desk, holds no seat
  bool closeWhenSent = false;  // closes once its queue is written (a denial)

  void start(http::request<http::string_body> request);
  void read();
  void readHost();
  void send(PageText text);
  // Sends what is queued, then closes.
  void closeAfterSending();
  void writeNext();
  // Closes the socket at once and tells the registry; the seat stays for a
  // resume. The session lives on until its pending handlers have run.
  void close();
};

// One seat's connection to the quiz server and its timer.
struct ServerLink : std::enable_shared_from_this<ServerLink> {
  ServerLink(Gateway::Impl* gw, SeatId id) : gw(gw), id(id), socket(gw->io), timer(gw->io) {}

  Gateway::Impl* gw;
  SeatId id;
  tcp::socket socket;
  asio::steady_timer timer;
  int64_t armedAt = -1;  // the time the timer waits for; -1: none
  std::deque<std::string> out;
  bool writing = false;

  void connect();
  // Waits until the socket is readable, then reads it (readReady).
  void read();
  // Reads what is waiting into the gateway's shared buffer and hands it to
  // the registry; waits again once the socket is drained.
  void readReady();
  void send(std::string bytes);
  void write();
  void closeSocket();
  // Sets the timer for the registry's wake-up time `due` (-1: none).
  void arm(int64_t due);
  // Socket and timer: the seat is gone.
  void close();
  bool current() const;  // still the registry's link for its seat
};

// The connection to the quiz server's room feed on 127.0.0.1: the greeting,
// the reader, the screen's wake-ups for its held messages, and a new
// connection every second while there is none (the server not yet up, or
// restarted).
struct FeedLink : std::enable_shared_from_this<FeedLink> {
  FeedLink(Gateway::Impl* gw, tcp::endpoint endpoint)
      : gw(gw), endpoint(endpoint), socket(gw->io), retry(gw->io), wake(gw->io) {}

  Gateway::Impl* gw;
  tcp::endpoint endpoint;
  tcp::socket socket;
  asio::steady_timer retry;  // the next attempt, or the greeting's deadline
  asio::steady_timer wake;   // the screen's held messages
  int64_t wakeArmed = -1;
  FeedReader reader;
  std::vector<char> buffer = std::vector<char>(64 * 1024);
  uint64_t generation = 0;  // one per connection: handlers of an older one do nothing
  bool stopped = false;
  std::deque<std::string> out;  // command lines for the server, in order
  bool writing = false;

  void connect();
  // Sends a command line (dropped when the connection is not greeted; the
  // desk has then answered for it).
  void send(std::string line);
  void write(uint64_t gen);
  void read(uint64_t gen);
  // The connection ended or broke the feed's rules: the screen goes back
  // to the seats and a new connection is tried in a second.
  void lost(const std::string& why);
  void retryLater(int ms);
  void armWake();
  void close();
};

}  // namespace qova::web
