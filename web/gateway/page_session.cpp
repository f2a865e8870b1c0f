#include <array>

#include "web/gateway/gateway_shell.h"

namespace qova::web {

void PageSession::start(http::request<http::string_body> request) {
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
    // A screen that opens (or comes back) gets the current view at once,
    // and the hold over it.
    if (self->screen) {
      const ScreenState& s = self->gw->registry.screen();
      self->send(s.viewText(nowMs()));
      if (s.holdShown()) self->send(s.holdText());
    }
    self->read();
  });
}

void PageSession::read() {
  auto self = shared_from_this();
  ws.async_read(buffer, [self](error_code ec, size_t) {
    if (ec) return self->close();
    if (!self->ws.got_text() || self->screen) return self->close();  // screens only listen
    if (self->host) return self->readHost();
    PageRequest r;
    std::string text = beast::buffers_to_string(self->buffer.data());
    self->buffer.consume(self->buffer.size());
    if (!parsePageMessage(text.data(), text.size(), &r)) return self->close();
    RegistryActions actions;
    self->gw->registry.pageMessage(self->id, r, nowMs(), &actions);
    self->gw->apply(actions);
    if (!self->closed) self->read();
  });
}

void PageSession::readHost() {
  HostRequest r;
  std::string text = beast::buffers_to_string(buffer.data());
  buffer.consume(buffer.size());
  if (!parseHostMessage(text.data(), text.size(), &r)) return close();
  // The host page talks to the desk alone: nothing of it reaches a seat.
  HostActions actions;
  gw->host.pageMessage(id, r, nowMs(), &actions);
  gw->applyHost(actions);
  if (!closed && !closeWhenSent) read();
}

void PageSession::closeAfterSending() {
  closeWhenSent = true;
  if (!writing) writeNext();
}

void PageSession::send(PageText text) {
  if (closed || closeWhenSent) return;
  // What waits behind the message being written is bounded; a page with
  // nothing queued takes any one message.
  if (!queue.empty() && queuedBytes + text.size() > gw->options.pageQueueBytes) {
    return close();  // it does not keep up
  }
  queuedBytes += text.size();
  queue.push_back(std::move(text));
  if (!writing) writeNext();
}

void PageSession::writeNext() {
  if (closed) return;
  if (queue.empty()) {
    if (closeWhenSent) close();
    return;
  }
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

void PageSession::close() {
  if (closed) return;
  closed = true;
  error_code ec;
  ws.next_layer().shutdown(tcp::socket::shutdown_both, ec);
  ws.next_layer().close(ec);
  // The queue stays: a write under way still reads its first message.
  auto self = shared_from_this();
  gw->registry.connectionClosed(address);
  if (screen) {
    gw->screens.erase(id);
    return;
  }
  if (host) {
    gw->hosts.erase(id);
    gw->host.pageClosed(id);
    gw->armHost();
    return;
  }
  gw->pages.erase(id);
  RegistryActions actions;
  gw->registry.pageClosed(id, nowMs(), &actions);
  gw->apply(actions);
}

}  // namespace qova::web
