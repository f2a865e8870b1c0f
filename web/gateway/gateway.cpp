#include "web/gateway/gateway.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>

#include "web/gateway/gateway_shell.h"
#include "web/gateway/local_addresses.h"
#include "web/gateway/secure_random.h"
#include "wire/wire.h"

namespace qova::web {

namespace {

constexpr size_t kSpareConnections = 256;  // HTTP and page connections beyond one per seat
// Players who join the server directly, beside the web seats, allowed for
// in the bound on one results message.
constexpr size_t kDirectPlayersAllowed = 1000;
constexpr size_t kMaxListPlayers = 8192;  // keeps the bound at tens of MB
// Descriptors kept for everything but sockets: the listener, files, the
// runtime's own.
constexpr size_t kOtherDescriptors = 64;

// The descriptors the process may hold for sockets; 0 when unbounded.
size_t socketDescriptors() {
#ifdef _WIN32
  return 0;  // sockets are not bounded by a descriptor table
#else
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 0;
  return r.rlim_cur > kOtherDescriptors * 2 ? r.rlim_cur - kOtherDescriptors : r.rlim_cur / 2;
#endif
}

RegistryOptions registryOptions(const GatewayOptions& o) {
  RegistryOptions r;
  r.maxSeats = o.maxSeats;
  r.joinsPerAddressPerSecond = o.joinsPerAddressPerSecond;
  r.seatsPerAddress = o.seatsPerAddress;
  r.connectionsPerAddress = o.connectionsPerAddress ? o.connectionsPerAddress
                                                    : std::max<size_t>(16, 2 * o.seatsPerAddress);
  r.maxConnections = o.maxSeats + kSpareConnections;
  r.reservedForResume = o.reservedForResume;
  r.maxDescriptors = socketDescriptors();
  r.unseatedPageMs = o.unseatedPageMs;
  r.maxServerMessageBytes =
      listMessageBound(std::min(o.maxSeats + kDirectPlayersAllowed, kMaxListPlayers));
  r.endedSeatKeepMs = o.endedSeatKeepMs;
  r.pauses = o.pauses;
  return r;
}

}  // namespace

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::chrono::steady_clock::time_point atMs(int64_t ms) {
  return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
}

Gateway::Impl::Impl(GatewayOptions o)
    : options(std::move(o)),
      acceptor(io),
      acceptPause(io),
      runLimit(io),
      sweep(io),
      registry(registryOptions(options), newSeatToken),
      hostKey(options.hostKey.empty() ? newSeatToken() : options.hostKey),
      host(hostKey, &registry),
      hostWake(io) {}

void Gateway::Impl::accept() {
  acceptor.async_accept([this](error_code ec, tcp::socket socket) {
    if (stopped || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Accepting again at once would spin while the cause lasts.
      error_code tec;
      acceptPause.expires_from_now(std::chrono::milliseconds(100), tec);
      acceptPause.async_wait([this](error_code wec) {
        if (!wec && !stopped) accept();
      });
      return;
    }
    // The registry bounds the connections, in all and per address, so that
    // a flood cannot take every descriptor nor one client every slot.
    error_code aec;
    tcp::endpoint peer = socket.remote_endpoint(aec);
    std::string address = aec ? "?" : peer.address().to_string(aec);
    SeatRegistry::Admit admit = registry.connectionOpened(address);
    if (admit == SeatRegistry::Admit::kRefused) {
      error_code cec;
      socket.close(cec);
    } else {
      // A page's small messages ("answered", then the results) follow each
      // other closely; without this the second waits for the page's delayed
      // acknowledgement of the first.
      error_code nec;
      socket.set_option(tcp::no_delay(true), nec);
      auto session = std::make_shared<HttpSession>(this, std::move(socket), address,
                                                   admit == SeatRegistry::Admit::kResumeOnly);
      httpSessions.insert(session);
      session->read();
    }
    accept();
  });
}

void Gateway::Impl::armSweep() {
  error_code ec;
  sweep.expires_from_now(std::chrono::seconds(1), ec);
  sweep.async_wait([this](error_code wec) {
    if (wec || stopped) return;
    RegistryActions actions;
    registry.expirePages(nowMs(), &actions);
    apply(actions);
    armSweep();
  });
}

void Gateway::Impl::apply(RegistryActions& a) {
  if (options.log) {
    for (const std::string& line : a.log) options.log(line);
  }
  for (RegistryActions::ToServer& s : a.toServers) {
    auto link = links.find(s.seat);
    if (link != links.end()) link->second->send(std::move(s.bytes));
  }
  for (RegistryActions::ToPage& p : a.toPages) {
    auto page = pages.find(p.page);
    // A page that falls behind is closed by its send, which tells the
    // registry at once.
    if (page != pages.end()) page->second->send(std::move(p.text));
  }
  for (SeatId id : a.closeServers) {
    auto link = links.find(id);
    if (link != links.end()) link->second->closeSocket();
  }
  for (SeatId id : a.connect) {
    if (stopped || !registry.readsServer(id)) continue;
    auto link = std::make_shared<ServerLink>(this, id);
    links[id] = link;
    link->connect();
  }
  for (PageId id : a.closePages) {
    auto page = pages.find(id);
    if (page != pages.end()) page->second->close();
  }
  for (SeatId id : a.forget) {
    auto link = links.find(id);
    if (link == links.end()) continue;
    link->second->close();
    links.erase(link);
  }
  for (SeatId id : a.rearm) {
    auto link = links.find(id);
    if (link != links.end()) link->second->arm(registry.wakeAt(id));
  }
  screenChanged();
}

void Gateway::Impl::applyHost(HostActions& a) {
  for (HostActions::ToPage& p : a.toPages) {
    auto page = hosts.find(p.page);
    if (page != hosts.end()) page->second->send(std::move(p.text));
  }
  for (PageId id : a.closePages) {
    auto page = hosts.find(id);
    if (page != hosts.end()) page->second->closeAfterSending();
  }
  for (std::string& line : a.toFeed) {
    if (feed) feed->send(std::move(line));
  }
  armHost();
}

void Gateway::Impl::armHost() {
  int64_t due = host.wakeAt();
  if (due == hostWakeArmed || stopped) return;
  hostWakeArmed = due;
  error_code ec;
  hostWake.cancel(ec);
  if (due < 0) return;
  hostWake.expires_at(atMs(due), ec);
  hostWake.async_wait([this, due](error_code wec) {
    if (wec || stopped || hostWakeArmed != due) return;
    hostWakeArmed = -1;
    HostActions actions;
    host.wake(nowMs(), &actions);
    applyHost(actions);
  });
}

void Gateway::Impl::screenChanged() {
  const ScreenState& s = registry.screen();
  if (screenFlushPosted || screens.empty()) return;
  if (s.viewVersion() == screenViewSent && s.countVersion() == screenCountSent &&
      s.holdVersion() == screenHoldSent) {
    return;
  }
  screenFlushPosted = true;
  asio::post(io, [this] { flushScreens(); });
}

void Gateway::Impl::flushScreens() {
  screenFlushPosted = false;
  if (stopped) return;
  const ScreenState& s = registry.screen();
  std::vector<PageText> texts;
  if (s.viewVersion() != screenViewSent) {
    texts.push_back(s.viewText(nowMs()));
  } else if (s.countVersion() != screenCountSent) {
    texts.push_back(s.countText());
  }
  // The hold follows the view it is shown over.
  if (s.holdVersion() != screenHoldSent) texts.push_back(s.holdText());
  screenViewSent = s.viewVersion();
  screenCountSent = s.countVersion();
  screenHoldSent = s.holdVersion();
  std::vector<std::shared_ptr<PageSession>> open;
  for (auto& p : screens) open.push_back(p.second);
  for (const PageText& text : texts) {
    auto shared = std::make_shared<const std::string>(text.str());
    for (auto& p : open) p->send(PageText{"", shared, ""});
  }
}

const EmbeddedFile* Gateway::Impl::findFile(const std::string& path) const {
  for (size_t i = 0; i < options.files.count; ++i) {
    if (path == options.files.files[i].urlPath) return &options.files.files[i];
  }
  return nullptr;
}

void Gateway::Impl::shutdown() {
  if (stopped) return;
  stopped = true;
  error_code ec;
  acceptor.close(ec);
  acceptPause.cancel(ec);
  runLimit.cancel(ec);
  sweep.cancel(ec);
  hostWake.cancel(ec);
  std::vector<std::shared_ptr<PageSession>> open;
  for (auto& p : pages) open.push_back(p.second);
  for (auto& p : screens) open.push_back(p.second);
  for (auto& p : hosts) open.push_back(p.second);
  for (auto& p : open) p->close();
  for (auto& h : std::set<std::shared_ptr<HttpSession>>(httpSessions)) h->close();
  for (auto& l : links) l.second->close();
  links.clear();
  if (feed) feed->close();
}

Gateway::Gateway(GatewayOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Gateway::~Gateway() {
  impl_->shutdown();
  // Handlers still queued hold sessions and links; running them lets each
  // see its socket closed and let go.
  impl_->io.restart();
  error_code ec;
  while (impl_->io.poll(ec) > 0) {
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
  g.armSweep();
  // The room feed is the server's own computer's: only a server there has one
  // this gateway can reach.
  if (g.options.feedPort != 0 && isOwnAddress(g.options.serverHost)) {
    g.feed = std::make_shared<FeedLink>(
        &g, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1", ec), g.options.feedPort));
    g.feed->connect();
    if (g.options.log) {
      g.options.log("Reading the quiz server's room feed on 127.0.0.1 port " +
                    std::to_string(g.options.feedPort) + " for the room screen.");
    }
  }
  return true;
}

uint16_t Gateway::httpPort() const {
  error_code ec;
  tcp::endpoint e = impl_->acceptor.local_endpoint(ec);
  return ec ? 0 : e.port();
}

void Gateway::run() {
  impl_->io.restart();
  error_code ec;
  impl_->io.run(ec);
}

size_t Gateway::poll() {
  if (impl_->io.stopped()) impl_->io.restart();
  error_code ec;
  return impl_->io.poll(ec);
}

void Gateway::runFor(int ms) {
  Impl* g = impl_.get();
  if (g->io.stopped()) g->io.restart();
  // A timer ends the run: the io_context's own run_for has no error_code form.
  error_code ec;
  g->runLimit.expires_from_now(std::chrono::milliseconds(ms), ec);
  g->runLimit.async_wait([g](error_code wec) {
    if (!wec) g->io.stop();
  });
  g->io.run(ec);
  g->runLimit.cancel(ec);
}

void Gateway::stop() {
  Impl* g = impl_.get();
  asio::post(g->io, [g] {
    g->shutdown();
    g->io.stop();
  });
}

const std::string& Gateway::hostKey() const { return impl_->hostKey; }

size_t Gateway::seatCount() const { return impl_->registry.seatCount(); }

std::vector<std::string> Gateway::seatNames() const { return impl_->registry.seatNames(); }

}  // namespace qova::web
