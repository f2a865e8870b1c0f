#include "web/gateway_shell.h"

namespace qova::web {

bool ServerLink::current() const {
  auto it = gw->links.find(id);
  return it != gw->links.end() && it->second.get() == this;
}

void ServerLink::connect() {
  auto self = shared_from_this();
  socket.async_connect(gw->serverEndpoint, [self](error_code ec) {
    if (!self->current()) return;
    RegistryActions actions;
    if (ec) {
      self->gw->registry.serverEnded(self->id, ServerEnd::kRefused, &actions);
      self->gw->apply(actions);
      return;
    }
    error_code nd;
    self->socket.set_option(tcp::no_delay(true), nd);
    // For readMore(); the asynchronous reads are not affected.
    self->socket.non_blocking(true, nd);
    self->gw->registry.serverConnected(self->id, &actions);
    self->gw->apply(actions);
    self->read();
  });
}

void ServerLink::read() {
  auto self = shared_from_this();
  socket.async_read_some(asio::buffer(readBuffer), [self](error_code ec, size_t n) {
    Gateway::Impl* gw = self->gw;
    if (!self->current() || !gw->registry.readsServer(self->id)) return;
    RegistryActions actions;
    if (ec) {
      gw->registry.serverEnded(self->id, ServerEnd::kClosed, &actions);
    } else {
      gw->registry.serverBytes(self->id, self->readBuffer.data(), n, nowMs(), &actions);
    }
    gw->apply(actions);
    if (ec || !self->current() || !gw->registry.readsServer(self->id)) return;
    if (n == self->readBuffer.size()) self->readMore();
    if (self->current() && gw->registry.readsServer(self->id)) self->read();
  });
}

void ServerLink::readMore() {
  // Results and summaries for every player (tens of KB, a few hundred at
  // the largest rooms) wait whole in the socket most often: one read into
  // the gateway's large buffer takes what the seat's own buffer left. A few
  // reads at most, so that one server link cannot hold the thread.
  for (int reads = 0; reads < 4; ++reads) {
    error_code ec;
    size_t n = socket.read_some(asio::buffer(gw->bulkRead), ec);
    // Nothing more now, or an error the next asynchronous read reports.
    if (ec) return;
    RegistryActions actions;
    gw->registry.serverBytes(id, gw->bulkRead.data(), n, nowMs(), &actions);
    gw->apply(actions);
    if (n < gw->bulkRead.size() || !current() || !gw->registry.readsServer(id)) return;
  }
}

void ServerLink::send(std::string bytes) {
  out.push_back(std::move(bytes));
  write();
}

void ServerLink::write() {
  if (writing || out.empty()) return;
  writing = true;
  auto self = shared_from_this();
  asio::async_write(socket, asio::buffer(out.front()), [self](error_code ec, size_t) {
    self->writing = false;
    if (ec) return;  // the read side sees the broken connection
    self->out.pop_front();
    self->write();
  });
}

void ServerLink::closeSocket() {
  error_code ec;
  socket.close(ec);
}

void ServerLink::arm(int64_t due) {
  if (due == armedAt) return;
  armedAt = due;
  error_code ec;
  timer.cancel(ec);
  if (due < 0) return;
  timer.expires_at(atMs(due), ec);
  auto self = shared_from_this();
  timer.async_wait([self, due](error_code wec) {
    if (wec || !self->current() || self->armedAt != due) return;
    self->armedAt = -1;
    RegistryActions actions;
    self->gw->registry.wake(self->id, nowMs(), &actions);
    self->gw->apply(actions);
  });
}

void ServerLink::close() {
  closeSocket();
  armedAt = -1;
  error_code ec;
  timer.cancel(ec);
}

}  // namespace qova::web
