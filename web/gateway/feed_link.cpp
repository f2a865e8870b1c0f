#include <cstring>

#include "web/gateway/gateway_shell.h"

namespace qova::web {

namespace {

constexpr int kRetryMs = 1000;     // a new connection while there is none
constexpr int kGreetingMs = 5000;  // the server's greeting must come within this

}  // namespace

void FeedLink::connect() {
  if (stopped) return;
  uint64_t gen = ++generation;
  reader = FeedReader();
  out.clear();
  writing = false;
  auto self = shared_from_this();
  socket.async_connect(endpoint, [self, gen](error_code ec) {
    if (self->stopped || gen != self->generation) return;
    if (ec) {
      error_code cec;
      self->socket.close(cec);
      return self->retryLater(kRetryMs);
    }
    error_code nd;
    self->socket.set_option(tcp::no_delay(true), nd);
    // The greeting first; then only the host pages' commands.
    self->out.push_front(kRoomFeedGreeting);
    self->write(gen);
    error_code tec;
    self->retry.expires_from_now(std::chrono::milliseconds(kGreetingMs), tec);
    self->retry.async_wait([self, gen](error_code wec) {
      if (wec || self->stopped || gen != self->generation || self->reader.greeted()) return;
      self->lost("no greeting within 5 s");
    });
    self->read(gen);
  });
}

void FeedLink::read(uint64_t gen) {
  auto self = shared_from_this();
  socket.async_read_some(asio::buffer(buffer), [self, gen](error_code ec, size_t n) {
    if (self->stopped || gen != self->generation) return;
    if (ec) {
      return self->lost(ec == asio::error::eof ? "the server closed it" : ec.message());
    }
    Gateway::Impl* gw = self->gw;
    ScreenState& screen = gw->registry.screen();
    std::vector<FeedMessage> messages;
    bool sound = self->reader.feed(self->buffer.data(), n, &messages);
    int64_t now = nowMs();
    HostActions hostActions;
    if (self->reader.greeted() && !screen.feedOpen()) {
      error_code cec;
      self->retry.cancel(cec);
      screen.feedOpened(now);
      gw->host.feedOpened(now, &hostActions);
      if (gw->options.log) gw->options.log("The room screen follows the quiz server's room feed.");
    }
    std::string error;
    RegistryActions seatActions;
    for (const FeedMessage& m : messages) {
      // A command's answer is for the host page that sent it alone.
      if (isCommandAnswer(m)) {
        gw->host.feedAnswer(m, &hostActions);
        continue;
      }
      if (!screen.feedMessage(m, now, &error)) {
        sound = false;
        break;
      }
      gw->host.feedMessage(m, now);
      if (m.kind == FeedKind::kHold) gw->registry.setHeld(m.held, now, &seatActions);
    }
    gw->host.flush(now, &hostActions);
    gw->applyHost(hostActions);
    gw->apply(seatActions);
    if (!sound) return self->lost(error.empty() ? self->reader.error() : error);
    gw->screenChanged();
    self->armWake();
    self->read(gen);
  });
}

void FeedLink::lost(const std::string& why) {
  ++generation;
  error_code ec;
  socket.close(ec);
  wake.cancel(ec);
  wakeArmed = -1;
  out.clear();
  writing = false;
  // Commands on their way are answered for; the seats are no longer held.
  HostActions hostActions;
  gw->host.feedClosed(&hostActions);
  gw->applyHost(hostActions);
  RegistryActions seatActions;
  gw->registry.setHeld(false, nowMs(), &seatActions);
  gw->apply(seatActions);
  ScreenState& screen = gw->registry.screen();
  if (screen.feedOpen()) {
    screen.feedClosed();
    if (gw->options.log) {
      gw->options.log("The room feed closed (" + why +
                      "); the room screen follows the web players until it is back.");
    }
    gw->screenChanged();
    // The game's end, when told before the close, still comes at its pace.
    armWake();
  }
  retryLater(kRetryMs);
}

void FeedLink::send(std::string line) {
  if (stopped || !reader.greeted()) return;
  out.push_back(std::move(line));
  write(generation);
}

void FeedLink::write(uint64_t gen) {
  if (writing || out.empty()) return;
  writing = true;
  auto self = shared_from_this();
  asio::async_write(socket, asio::buffer(out.front()), [self, gen](error_code ec, size_t) {
    if (self->stopped || gen != self->generation) return;
    self->writing = false;
    if (ec) return;  // the read sees the connection end
    self->out.pop_front();
    self->write(gen);
  });
}

void FeedLink::retryLater(int ms) {
  if (stopped) return;
  uint64_t gen = generation;
  error_code ec;
  retry.expires_from_now(std::chrono::milliseconds(ms), ec);
  auto self = shared_from_this();
  retry.async_wait([self, gen](error_code wec) {
    if (wec || self->stopped || gen != self->generation) return;
    self->connect();
  });
}

void FeedLink::armWake() {
  int64_t due = gw->registry.screen().wakeAt();
  if (due == wakeArmed) return;
  wakeArmed = due;
  error_code ec;
  wake.cancel(ec);
  if (due < 0) return;
  wake.expires_at(atMs(due), ec);
  auto self = shared_from_this();
  wake.async_wait([self, due](error_code wec) {
    if (wec || self->stopped || self->wakeArmed != due) return;
    self->wakeArmed = -1;
    self->gw->registry.screen().wake(nowMs());
    self->gw->screenChanged();
    self->armWake();
  });
}

void FeedLink::close() {
  stopped = true;
  ++generation;
  error_code ec;
  socket.close(ec);
  retry.cancel(ec);
  wake.cancel(ec);
}

}  // namespace qova::web
