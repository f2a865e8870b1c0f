// A test page for the gateway's loopback tests: a WebSocket client of /ws
// (or of another path: /screen/ws for a room screen) from a given loopback address (127.0.0.x
// stands for distinct phones), with a time-out on every wait, so that no test can hang on the
// gateway.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace qova::loopback {

class Page {
 public:
  using error_code = boost::system::error_code;
  using json = nlohmann::json;

  explicit Page(uint16_t port, const std::string& from = "127.0.0.1",
                const std::string& path = "/ws")
      : ws_(io_) {
    namespace asio = boost::asio;
    using tcp = asio::ip::tcp;
    error_code ec;
    tcp::socket& s = boost::beast::get_lowest_layer(ws_).socket();
    s.open(tcp::v4(), ec);
    if (!ec) s.bind(tcp::endpoint(asio::ip::make_address(from), 0), ec);
    if (!ec) s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
    if (!ec) {
      boost::beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(3));
      bool done = false;
      ws_.async_handshake("127.0.0.1", path, [&](error_code hec) {
        done = true;
        ec = hec;
      });
      io_.run();
      if (!done) ec = asio::error::timed_out;
      boost::beast::get_lowest_layer(ws_).expires_never();
    }
    open_ = !ec;
  }
  bool open() const { return open_; }

  void send(const std::string& text) {
    error_code ec;
    ws_.text(true);
    ws_.write(boost::asio::buffer(text), ec);
  }
  void send(const json& j) { send(j.dump()); }
  void send(const char* text) { send(std::string(text)); }

  // The next message, or nothing when none came within `ms` or the socket
  // closed.
  std::optional<json> next(int ms = 5000) {
    bool done = false;
    error_code result;
    buffer_.consume(buffer_.size());
    ws_.async_read(buffer_, [&](error_code ec, size_t) {
      done = true;
      result = ec;
    });
    io_.restart();
    io_.run_for(std::chrono::milliseconds(ms));
    if (!done) {
      boost::beast::get_lowest_layer(ws_).cancel();
      io_.restart();
      io_.run();
      return std::nullopt;
    }
    if (result) {
      open_ = false;
      return std::nullopt;
    }
    return json::parse(boost::beast::buffers_to_string(buffer_.data()), nullptr, false);
  }
  // Skips messages until one of type `t` arrives.
  std::optional<json> until(const std::string& t, int ms = 8000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      std::optional<json> m = next(ms);
      if (!m) return m;
      if ((*m)["t"] == t) return m;
    }
    return std::nullopt;
  }
  void drop() {
    error_code ec;
    boost::beast::get_lowest_layer(ws_).socket().close(ec);
    open_ = false;
  }

 private:
  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  boost::beast::flat_buffer buffer_;
  bool open_ = false;
};

}  // namespace qova::loopback
