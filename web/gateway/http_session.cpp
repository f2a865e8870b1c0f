#include "web/gateway/gateway_shell.h"

namespace qova::web {

namespace {

constexpr size_t kMaxRequestHead = 8192;

}  // namespace

void HttpSession::read() {
  parser.emplace();
  parser->header_limit(kMaxRequestHead);
  parser->body_limit(kMaxRequestHead);
  armIdle();
  auto self = shared_from_this();
  http::async_read(socket, buffer, *parser, [self](error_code ec, size_t) {
    if (ec == http::error::header_limit) {
      return self->respond(http::status::request_header_fields_too_large, "text/plain",
                           "Request header too large\n", false);
    }
    if (ec) return self->close();
    self->handle();
  });
}

void HttpSession::armIdle() {
  error_code ec;
  idle.expires_from_now(std::chrono::milliseconds(gw->options.httpIdleMs), ec);
  auto self = shared_from_this();
  idle.async_wait([self](error_code wec) {
    if (!wec) self->close();
  });
}

void HttpSession::handle() {
  http::request<http::string_body>& req = parser->get();
  std::string target(req.target());
  std::string path = target.substr(0, target.find('?'));
  unsigned version = req.version() == 10 ? 10 : 11;
  if (req.method() != http::verb::get) {
    return respond(http::status::method_not_allowed, "text/plain", "Only GET is served\n",
                   req.keep_alive(), version);
  }
  if (resumeOnly && path != "/ws") {
    return respond(http::status::service_unavailable, "text/plain",
                   "Busy; please try again shortly\n", false, version);
  }
  if (path == "/ws" || path == "/screen/ws" || path == "/host/ws") {
    if (!websocket::is_upgrade(req)) {
      return respond(http::status::bad_request, "text/plain", "WebSocket expected\n", false);
    }
    error_code ec;
    idle.cancel(ec);
    PageId id = gw->nextPage++;
    auto page = std::make_shared<PageSession>(gw, id, std::move(socket), address);
    if (path == "/ws") {
      gw->pages[id] = page;
      gw->registry.pageOpened(id, address, nowMs(), resumeOnly);
    } else if (path == "/host/ws") {
      page->host = true;
      gw->hosts[id] = page;
      gw->host.pageOpened(id, address, nowMs());
      gw->armHost();
    } else {
      page->screen = true;
      gw->screens[id] = page;
    }
    closed = true;
    gw->httpSessions.erase(shared_from_this());
    page->start(parser->release());
    return;
  }
  if (path == "/info") {
    return respond(http::status::ok, "application/json",
                   infoJson(gw->options.links, gw->options.serverHost, gw->registry.seatCount(),
                            gw->options.maxSeats),
                   req.keep_alive(), version);
  }
  if (const EmbeddedFile* f = gw->findFile(path)) {
    return respond(http::status::ok, f->contentType,
                   std::string(reinterpret_cast<const char*>(f->data), f->size), req.keep_alive(),
                   version);
  }
  respond(http::status::not_found, "text/plain", "Not found\n", req.keep_alive(), version);
}

void HttpSession::respond(http::status status, const std::string& type, std::string body,
                          bool keepAlive, unsigned version) {
  // An HTTP/1.0 request is answered in HTTP/1.0: its keep-alive is an
  // explicit "Connection: keep-alive", which the reply then carries too.
  auto res = std::make_shared<http::response<http::string_body>>(status, version);
  res->set(http::field::content_type, type);
  res->set(http::field::cache_control, "no-store");
  res->set("X-Content-Type-Options", "nosniff");
  res->keep_alive(keepAlive);
  res->body() = std::move(body);
  res->prepare_payload();
  armIdle();
  auto self = shared_from_this();
  http::async_write(socket, *res, [self, res](error_code ec, size_t) {
    if (ec || !res->keep_alive()) return self->close();
    self->read();
  });
}

void HttpSession::close() {
  if (closed) return;
  closed = true;
  error_code ec;
  idle.cancel(ec);
  socket.shutdown(tcp::socket::shutdown_both, ec);
  socket.close(ec);
  gw->registry.connectionClosed(address);
  gw->httpSessions.erase(shared_from_this());
}

}  // namespace qova::web
