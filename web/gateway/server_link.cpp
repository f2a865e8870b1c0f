#include "web/gateway/gateway_shell.h"

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
    // readReady() reads without waiting; the writes are not affected.
    self->socket.non_blocking(true, nd);
    self->gw->registry.serverConnected(self->id, &actions);
    self->gw->apply(actions);
    self->read();
  });
}

void ServerLink::read() {
  // Waiting, not reading: the bytes go into the gateway's one buffer when
  // they are there, so a seat holds no read buffer of its own, and a read
  // that drains the socket is not followed by one that finds it empty.
  auto self = shared_from_this();
  socket.async_wait(tcp::socket::wait_read, [self](error_code ec) {
    Gateway::Impl* gw = self->gw;
    if (!self->current() || !gw->registry.readsServer(self->id)) return;
    if (!ec) return self->readReady();
    RegistryActions actions;
    gw->registry.serverEnded(self->id, ServerEnd::kClosed, &actions);
    gw->apply(actions);
  });
}

void ServerLink::readReady() {
  // Results and summaries for every player (tens of KB, a few hundred at the
  // largest rooms) are most often waiting whole. A few reads at most, so
  // that one server link cannot hold the thread.
  for (int reads = 0; reads < 4; ++reads) {
    error_code ec;
    size_t n = socket.read_some(asio::buffer(gw->serverRead), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) return read();
    RegistryActions actions;
    if (ec) {
      gw->registry.serverEnded(id, ServerEnd::kClosed, &actions);
    } else {
      gw->registry.serverBytes(id, gw->serverRead.data(), n, nowMs(), &actions);
    }
    gw->apply(actions);
    if (ec || !current() || !gw->registry.readsServer(id)) return;
    // A read short of the buffer took everything there was: the socket
    // signals readable again when more comes.
    if (n < gw->serverRead.size()) return read();
  }
  // More is waiting, which no new signal would announce: read on once the
  // handlers ready now have run.
  auto self = shared_from_this();
  asio::post(gw->io, [self] {
    if (self->current() && self->gw->registry.readsServer(self->id)) self->readReady();
  });
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
