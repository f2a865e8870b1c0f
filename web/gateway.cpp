#include "web/gateway.h"

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "web/page_message.h"
#include "web/seat.h"
#include "web/secure_random.h"
#include "web/text_codec.h"

namespace qova::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr size_t kMaxRequestHead = 8192;
// Large enough to take a results message for hundreds of players in a few
// reads (each read is a system call per seat); small beside a seat's other memory.
constexpr size_t kServerReadChunk = 16384;
constexpr size_t kSpareConnections = 256;  // HTTP and page connections beyond one per seat

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             SteadyClock::now().time_since_epoch())
      .count();
}

SteadyClock::time_point atMs(int64_t ms) {
  return SteadyClock::time_point(std::chrono::milliseconds(ms));
}

}  // namespace

struct PageSession;
struct HttpSession;

// One seat: the state machine, its server connection and its timer.
struct SeatSlot {
  SeatSlot(asio::io_context& io, uint64_t id, Seat s)
      : id(id), seat(std::move(s)), server(io), timer(io) {}
  uint64_t id;
  Seat seat;
  tcp::socket server;
  asio::steady_timer timer;
  int64_t armedAt = -1;  // the deadline the timer waits for; -1: none
  std::deque<std::string> serverOut;
  bool serverWriting = false;
  std::array<char, kServerReadChunk> readBuffer;
  std::weak_ptr<PageSession> page;
  std::string foldedName;  // while the name is held; empty once released
  int64_t pageGoneAt = 0;
  std::string address;  // of the page that joined, for the log
};

struct Gateway::Impl {
  explicit Impl(GatewayOptions o) : options(std::move(o)), acceptor(io), acceptPause(io) {}

  GatewayOptions options;
  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer acceptPause;  // after a failed accept (out of descriptors, say)
  tcp::endpoint serverEndpoint;
  SharedRows rows;
  uint64_t nextSeatId = 1;
  std::map<uint64_t, std::shared_ptr<SeatSlot>> seats;
  std::unordered_map<std::string, uint64_t> byToken;
  std::set<std::string> names;  // folded names of seats not yet ended
  size_t liveSeats = 0;
  std::unordered_map<std::string, std::pair<int64_t, int>>
      joinsBySecond;  // address -> second, count
  // Every open connection, so that shutdown can close them all.
  std::set<std::shared_ptr<HttpSession>> httpSessions;
  std::set<std::shared_ptr<PageSession>> pages;
  bool stopped = false;

  void shutdown();

  void log(const std::string& line) {
    if (options.log) options.log(line);
  }

  void accept();
  void onPageMessage(const std::shared_ptr<PageSession>& page, const PageRequest& r);
  void onPageGone(PageSession& page);
  void join(const std::shared_ptr<PageSession>& page, const std::string& name);
  void resume(const std::shared_ptr<PageSession>& page, const std::string& token);
  void connectServer(const std::shared_ptr<SeatSlot>& slot);
  void readServer(const std::shared_ptr<SeatSlot>& slot);
  void writeServer(const std::shared_ptr<SeatSlot>& slot);
  void apply(const std::shared_ptr<SeatSlot>& slot, SeatOutput& out);
  void armTimer(const std::shared_ptr<SeatSlot>& slot);
  void removeSeat(const std::shared_ptr<SeatSlot>& slot);
  // The seat's page is gone (closed, or moved on to another seat).
  void letPageGo(const std::shared_ptr<SeatSlot>& slot);
  void releaseName(SeatSlot& slot);
  bool gameBegun() const;
  bool joinAllowed(const std::string& address);
  const EmbeddedFile* findFile(const std::string& path) const;
};

// One page's WebSocket.
struct PageSession : std::enable_shared_from_this<PageSession> {
  PageSession(Gateway::Impl* gw, tcp::socket socket, std::string address)
      : gw(gw), ws(std::move(socket)), address(std::move(address)) {}

  Gateway::Impl* gw;
  websocket::stream<beast::tcp_stream> ws;
  std::string address;
  beast::flat_buffer buffer;
  std::deque<PageText> queue;
  size_t queuedBytes = 0;
  bool writing = false;
  bool closed = false;
  uint64_t seatId = 0;

  void start(http::request<http::string_body> request) {
    beast::get_lowest_layer(ws).expires_never();
    websocket::stream_base::timeout t =
        websocket::stream_base::timeout::suggested(beast::role_type::server);
    t.idle_timeout = std::chrono::seconds(60);
    t.keep_alive_pings = true;
    ws.set_option(t);
    ws.read_message_max(kMaxPageMessage);
    // A message goes as one frame in one write: cut into frames of the
    // write buffer's 4 KiB, long results took a system call per piece and
    // page. The page receives the same message either way.
    ws.auto_fragment(false);
    auto self = shared_from_this();
    ws.async_accept(request, [self](error_code ec) {
      if (ec) return self->close();
      self->read();
    });
  }

  void read() {
    auto self = shared_from_this();
    ws.async_read(buffer, [self](error_code ec, size_t) {
      if (ec) return self->close();
      if (!self->ws.got_text()) return self->close();
      PageRequest r;
      std::string text = beast::buffers_to_string(self->buffer.data());
      self->buffer.consume(self->buffer.size());
      if (!parsePageMessage(text.data(), text.size(), &r)) return self->close();
      self->gw->onPageMessage(self, r);
      if (!self->closed) self->read();
    });
  }

  void send(PageText text) {
    if (closed) return;
    queuedBytes += text.size();
    queue.push_back(std::move(text));
    if (queuedBytes > gw->options.pageQueueBytes) return close();  // it does not keep up
    if (!writing) writeNext();
  }

  void writeNext() {
    if (queue.empty() || closed) return;
    writing = true;
    const PageText& t = queue.front();
    std::array<asio::const_buffer, 3> parts = {
        asio::buffer(t.head), t.shared ? asio::buffer(*t.shared) : asio::const_buffer(),
        asio::buffer(t.tail)};
    ws.text(true);
    auto self = shared_from_this();
    ws.async_write(parts, [self](error_code ec, size_t) {
      self->writing = false;
      if (self->closed) return;
      if (ec) return self->close();
      self->queuedBytes -= self->queue.front().size();
      self->queue.pop_front();
      self->writeNext();
    });
  }

  // Closes the socket at once; the seat stays for a resume. The session
  // lives on until its pending handlers have run.
  void close() {
    if (closed) return;
    closed = true;
    error_code ec;
    beast::get_lowest_layer(ws).socket().shutdown(tcp::socket::shutdown_both, ec);
    beast::get_lowest_layer(ws).socket().close(ec);
    // The queue stays: a write under way still reads its first message.
    gw->onPageGone(*this);
    gw->pages.erase(shared_from_this());
  }
};

// One HTTP connection: requests one after another until it goes idle, or
// until it becomes a page's WebSocket.
struct HttpSession : std::enable_shared_from_this<HttpSession> {
  HttpSession(Gateway::Impl* gw, tcp::socket socket, std::string address)
      : gw(gw), stream(std::move(socket)), address(std::move(address)) {}

  Gateway::Impl* gw;
  beast::tcp_stream stream;
  std::string address;
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::string_body>> parser;
  bool closed = false;

  void read() {
    parser.emplace();
    parser->header_limit(kMaxRequestHead);
    parser->body_limit(kMaxRequestHead);
    stream.expires_after(std::chrono::milliseconds(gw->options.httpIdleMs));
    auto self = shared_from_this();
    http::async_read(stream, buffer, *parser, [self](error_code ec, size_t) {
      if (ec == http::error::header_limit) {
        return self->respond(http::status::request_header_fields_too_large, "text/plain",
                             "Request header too large\n", false);
      }
      if (ec) return self->close();
      self->handle();
    });
  }

  void handle() {
    http::request<http::string_body>& req = parser->get();
    std::string target(req.target());
    std::string path = target.substr(0, target.find('?'));
    if (req.method() != http::verb::get) {
      return respond(http::status::method_not_allowed, "text/plain", "Only GET is served\n",
                     req.keep_alive());
    }
    if (path == "/ws") {
      if (!websocket::is_upgrade(req)) {
        return respond(http::status::bad_request, "text/plain", "WebSocket expected\n", false);
      }
      stream.expires_never();
      auto page = std::make_shared<PageSession>(gw, stream.release_socket(), address);
      gw->pages.insert(page);
      closed = true;
      gw->httpSessions.erase(shared_from_this());
      page->start(parser->release());
      return;
    }
    if (path == "/info") {
      return respond(
          http::status::ok, "application/json",
          infoJson(gw->options.links, gw->options.serverHost, gw->liveSeats, gw->options.maxSeats),
          req.keep_alive());
    }
    if (const EmbeddedFile* f = gw->findFile(path)) {
      return respond(http::status::ok, f->contentType,
                     std::string(reinterpret_cast<const char*>(f->data), f->size),
                     req.keep_alive());
    }
    respond(http::status::not_found, "text/plain", "Not found\n", req.keep_alive());
  }

  void respond(http::status status, const std::string& type, std::string body, bool keepAlive) {
    auto res = std::make_shared<http::response<http::string_body>>(status, 11);
    res->set(http::field::content_type, type);
    res->set(http::field::cache_control, "no-store");
    res->set("X-Content-Type-Options", "nosniff");
    res->keep_alive(keepAlive);
    res->body() = std::move(body);
    res->prepare_payload();
    stream.expires_after(std::chrono::milliseconds(gw->options.httpIdleMs));
    auto self = shared_from_this();
    http::async_write(stream, *res, [self, res](error_code ec, size_t) {
      if (ec || !res->keep_alive()) return self->close();
      self->read();
    });
  }

  void close() {
    if (closed) return;
    closed = true;
    error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream.socket().close(ec);
    gw->httpSessions.erase(shared_from_this());
  }
};

void Gateway::Impl::accept() {
  acceptor.async_accept([this](error_code ec, tcp::socket socket) {
    if (stopped || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Accepting again at once would spin while the cause lasts.
      acceptPause.expires_after(std::chrono::milliseconds(100));
      acceptPause.async_wait([this](error_code wec) {
        if (!wec && !stopped) accept();
      });
      return;
    }
    // Every seat has a page socket and a server socket; beyond that only a
    // few spare connections are kept, so a flood cannot take every descriptor.
    if (httpSessions.size() + pages.size() >= options.maxSeats + kSpareConnections) {
      error_code cec;
      socket.close(cec);
    } else {
      // A page's small messages ("answered", then the results) follow each
      // other closely; without this the second waits for the page's delayed
      // acknowledgement of the first.
      error_code nec;
      socket.set_option(tcp::no_delay(true), nec);
      error_code aec;
      tcp::endpoint peer = socket.remote_endpoint(aec);
      std::string address = aec ? "?" : peer.address().to_string(aec);
      auto session = std::make_shared<HttpSession>(this, std::move(socket), address);
      httpSessions.insert(session);
      session->read();
    }
    accept();
  });
}

void Gateway::Impl::onPageMessage(const std::shared_ptr<PageSession>& page, const PageRequest& r) {
  auto it = page->seatId ? seats.find(page->seatId) : seats.end();
  std::shared_ptr<SeatSlot> slot = it == seats.end() ? nullptr : it->second;
  switch (r.kind) {
    case PageRequest::kJoin:
      if (slot && slot->seat.state() != SeatState::kEnded) {
        page->send(pageRefused("This page already has a seat."));
        return;
      }
      join(page, r.name);
      return;
    case PageRequest::kResume:
      resume(page, r.token);
      return;
    case PageRequest::kAnswer: {
      if (!slot) return;  // no seat (yet): nothing to answer for
      SeatOutput out;
      bool fine = slot->seat.answer(r.q, r.choice, nowMs(), &out);
      apply(slot, out);
      if (!fine) page->close();
      return;
    }
  }
}

bool Gateway::Impl::joinAllowed(const std::string& address) {
  int64_t second = nowMs() / 1000;
  if (joinsBySecond.size() > 4096) {
    for (auto i = joinsBySecond.begin(); i != joinsBySecond.end();) {
      i = i->second.first == second ? std::next(i) : joinsBySecond.erase(i);
    }
  }
  auto& entry = joinsBySecond[address];
  if (entry.first != second) entry = {second, 0};
  return ++entry.second <= options.joinsPerAddressPerSecond;
}

void Gateway::Impl::join(const std::shared_ptr<PageSession>& page, const std::string& name) {
  std::string wire;
  std::string problem = checkName(name, &wire);
  std::string folded = foldCase(wire);
  if (problem.empty() && names.count(folded)) problem = "That name is already taken.";
  if (problem.empty() && liveSeats >= options.maxSeats) problem = "All seats are taken.";
  if (problem.empty() && !joinAllowed(page->address)) {
    problem = "Too many players are joining from this address; please try again.";
  }
  std::string token;
  if (problem.empty()) {
    token = newSeatToken();
    if (token.empty()) problem = "The gateway cannot make a seat right now.";
  }
  if (!problem.empty()) {
    page->send(pageRefused(problem));
    return;
  }
  // A page whose earlier seat has ended leaves it behind for the new one.
  auto old = page->seatId ? seats.find(page->seatId) : seats.end();
  if (old != seats.end()) letPageGo(old->second);
  auto slot =
      std::make_shared<SeatSlot>(io, nextSeatId++, Seat(token, wire, &rows, options.pauses));
  slot->foldedName = folded;
  slot->address = page->address;
  slot->page = page;
  names.insert(folded);
  ++liveSeats;
  seats[slot->id] = slot;
  byToken[token] = slot->id;
  page->seatId = slot->id;
  log("Joining: " + cp1252ToUtf8(wire) + " (from " + page->address + ")");
  SeatOutput out;
  slot->seat.attach(nowMs(), &out);
  apply(slot, out);
  connectServer(slot);
}

void Gateway::Impl::resume(const std::shared_ptr<PageSession>& page, const std::string& token) {
  auto t = byToken.find(token);
  if (t == byToken.end()) {
    page->send(pageUnknown());
    return;
  }
  std::shared_ptr<SeatSlot> slot = seats[t->second];
  auto old = page->seatId ? seats.find(page->seatId) : seats.end();
  if (old != seats.end() && old->second != slot && old->second->page.lock() == page) {
    letPageGo(old->second);
  }
  // A page that still holds the seat (a tab left open elsewhere) gives it up.
  if (auto other = slot->page.lock()) {
    if (other != page) {
      other->seatId = 0;
      other->close();
    }
  }
  slot->page = page;
  page->seatId = slot->id;
  SeatOutput out;
  slot->seat.attach(nowMs(), &out);
  apply(slot, out);
}

void Gateway::Impl::onPageGone(PageSession& page) {
  if (!page.seatId) return;
  auto it = seats.find(page.seatId);
  page.seatId = 0;
  if (it == seats.end()) return;
  std::shared_ptr<SeatSlot> slot = it->second;
  if (slot->page.lock().get() != &page && !slot->page.expired()) return;
  // Before its welcome the page holds no token: nobody can come back for it.
  if (!slot->seat.welcomed()) return removeSeat(slot);
  letPageGo(slot);
}

void Gateway::Impl::letPageGo(const std::shared_ptr<SeatSlot>& slot) {
  slot->page.reset();
  slot->seat.detach(nowMs());
  slot->pageGoneAt = nowMs();
  armTimer(slot);
}

void Gateway::Impl::connectServer(const std::shared_ptr<SeatSlot>& slot) {
  slot->server.async_connect(serverEndpoint, [this, slot](error_code ec) {
    if (!seats.count(slot->id)) return;
    if (ec) {
      SeatOutput out;
      slot->seat.serverEnded(ServerEnd::kRefused, gameBegun(), &out);
      apply(slot, out);
      return;
    }
    error_code nd;
    slot->server.set_option(tcp::no_delay(true), nd);
    log("Seated: " + cp1252ToUtf8(slot->seat.wireName()) + " (" + std::to_string(liveSeats) +
        " seats)");
    readServer(slot);
  });
}

void Gateway::Impl::readServer(const std::shared_ptr<SeatSlot>& slot) {
  slot->server.async_read_some(
      asio::buffer(slot->readBuffer), [this, slot](error_code ec, size_t n) {
        if (!seats.count(slot->id) || slot->seat.state() == SeatState::kEnded) return;
        SeatOutput out;
        if (ec) {
          slot->seat.serverEnded(ServerEnd::kClosed, gameBegun(), &out);
        } else {
          slot->seat.serverBytes(slot->readBuffer.data(), n, nowMs(), &out);
        }
        apply(slot, out);
        if (!ec && slot->seat.state() != SeatState::kEnded) readServer(slot);
      });
}

void Gateway::Impl::writeServer(const std::shared_ptr<SeatSlot>& slot) {
  if (slot->serverWriting || slot->serverOut.empty()) return;
  slot->serverWriting = true;
  asio::async_write(slot->server, asio::buffer(slot->serverOut.front()),
                    [this, slot](error_code ec, size_t) {
                      slot->serverWriting = false;
                      if (ec) return;  // the read side sees the broken connection
                      slot->serverOut.pop_front();
                      writeServer(slot);
                    });
}

void Gateway::Impl::apply(const std::shared_ptr<SeatSlot>& slot, SeatOutput& out) {
  if (!out.toServer.empty() && !out.closeServer) {
    slot->serverOut.push_back(std::move(out.toServer));
    writeServer(slot);
  }
  if (auto page = slot->page.lock()) {
    for (PageText& t : out.toPage) page->send(std::move(t));
  }
  if (out.closeServer) {
    error_code ec;
    slot->server.close(ec);
  }
  if (slot->seat.state() == SeatState::kEnded) {
    if (!slot->foldedName.empty()) {
      log("Seat ended: " + cp1252ToUtf8(slot->seat.wireName()) +
          (slot->seat.welcomed() ? "" : " (no seat was granted)"));
    }
    releaseName(*slot);
    // A refused join never became a seat: the page may try again.
    if (!slot->seat.welcomed()) {
      if (auto page = slot->page.lock()) page->seatId = 0;
      return removeSeat(slot);
    }
  }
  armTimer(slot);
}

void Gateway::Impl::armTimer(const std::shared_ptr<SeatSlot>& slot) {
  int64_t due = slot->seat.deadline();
  if (slot->seat.state() == SeatState::kEnded && slot->page.expired()) {
    due = slot->pageGoneAt + options.endedSeatKeepMs;
  }
  if (due == slot->armedAt) return;
  slot->armedAt = due;
  slot->timer.cancel();
  if (due < 0) return;
  slot->timer.expires_at(atMs(due));
  slot->timer.async_wait([this, slot, due](error_code ec) {
    if (ec || !seats.count(slot->id) || slot->armedAt != due) return;
    slot->armedAt = -1;
    if (slot->seat.state() == SeatState::kEnded) return removeSeat(slot);
    SeatOutput out;
    slot->seat.tick(nowMs(), &out);
    apply(slot, out);
  });
}

void Gateway::Impl::releaseName(SeatSlot& slot) {
  if (slot.foldedName.empty()) return;
  names.erase(slot.foldedName);
  slot.foldedName.clear();
  --liveSeats;
}

void Gateway::Impl::removeSeat(const std::shared_ptr<SeatSlot>& slot) {
  releaseName(*slot);
  error_code ec;
  slot->server.close(ec);
  slot->timer.cancel();
  byToken.erase(slot->seat.token());
  seats.erase(slot->id);
}

bool Gateway::Impl::gameBegun() const {
  for (const auto& s : seats) {
    if (s.second->seat.state() != SeatState::kEnded && s.second->seat.seenQuestion()) return true;
  }
  return false;
}

const EmbeddedFile* Gateway::Impl::findFile(const std::string& path) const {
  for (size_t i = 0; i < options.files.count; ++i) {
    if (path == options.files.files[i].urlPath) return &options.files.files[i];
  }
  return nullptr;
}

Gateway::Gateway(GatewayOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

void Gateway::Impl::shutdown() {
  if (stopped) return;
  stopped = true;
  error_code ec;
  acceptor.close(ec);
  acceptPause.cancel();
  for (auto& p : std::set<std::shared_ptr<PageSession>>(pages)) p->close();
  for (auto& h : std::set<std::shared_ptr<HttpSession>>(httpSessions)) h->close();
  for (auto& s : std::map<uint64_t, std::shared_ptr<SeatSlot>>(seats)) removeSeat(s.second);
}

Gateway::~Gateway() {
  impl_->shutdown();
  // Handlers still queued hold sessions and seats; running them lets each
  // see its socket closed and let go.
  impl_->io.restart();
  while (impl_->io.poll() > 0) {
  }
}

bool Gateway::start(std::string* error) {
  Impl& g = *impl_;
  error_code ec;
  asio::ip::address server = asio::ip::make_address_v4(g.options.serverHost, ec);
  if (ec) {
    *error = "The quiz server address " + g.options.serverHost + " is not a dotted IPv4 address.";
    return false;
  }
  g.serverEndpoint = tcp::endpoint(server, g.options.serverPort);
  asio::ip::address local = asio::ip::make_address(g.options.httpAddress, ec);
  if (ec) {
    *error = "The address " + g.options.httpAddress + " cannot be listened on.";
    return false;
  }
  tcp::endpoint endpoint(local, g.options.httpPort);
  g.acceptor.open(endpoint.protocol(), ec);
#ifndef _WIN32
  // On Windows this option would let a second program take a port already
  // listened on, instead of failing.
  if (!ec) g.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
#endif
  if (!ec) g.acceptor.bind(endpoint, ec);
  if (!ec) g.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "Port " + std::to_string(g.options.httpPort) + " cannot be listened on (" +
             ec.message() + ").";
    error_code ignored;
    g.acceptor.close(ignored);
    return false;
  }
  g.accept();
  return true;
}

uint16_t Gateway::httpPort() const {
  error_code ec;
  tcp::endpoint e = impl_->acceptor.local_endpoint(ec);
  return ec ? 0 : e.port();
}

void Gateway::run() {
  impl_->io.restart();
  impl_->io.run();
}

size_t Gateway::poll() {
  if (impl_->io.stopped()) impl_->io.restart();
  return impl_->io.poll();
}

void Gateway::runFor(int ms) {
  if (impl_->io.stopped()) impl_->io.restart();
  impl_->io.run_for(std::chrono::milliseconds(ms));
}

void Gateway::stop() {
  Impl* g = impl_.get();
  asio::post(g->io, [g] {
    g->shutdown();
    g->io.stop();
  });
}

size_t Gateway::seatCount() const { return impl_->liveSeats; }

std::vector<std::string> Gateway::seatNames() const {
  std::vector<std::string> out;
  // Seat ids grow with each join; a held name marks a seat not yet ended.
  for (const auto& s : impl_->seats) {
    if (!s.second->foldedName.empty()) out.push_back(s.second->seat.wireName());
  }
  return out;
}

}  // namespace qova::web
