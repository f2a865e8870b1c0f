// A phone's page for the Windows-side tests: one WebSocket to the gateway on
// loopback, speaking the page's JSON messages, every wait bounded. Include it
// before <windows.h> (Asio brings winsock2.h, which must come first); link
// qova_web_asio and qova_web_json.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qova {

class Page {
 public:
  // How long one step (the handshake, the next message) may take.
  static constexpr DWORD kStepMs = 15000;

  bool open(uint16_t port) {
    boost::system::error_code ec;
    ws_.next_layer().connect(
        boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port), ec);
    if (ec) return false;
    bool done = false;
    ws_.async_handshake("127.0.0.1", "/ws", [&](boost::system::error_code e) {
      ec = e;
      done = true;
    });
    return runUntil(&done) && !ec;
  }

  bool send(const nlohmann::json& message) {
    boost::system::error_code ec;
    ws_.text(true);
    ws_.write(boost::asio::buffer(message.dump()), ec);
    return !ec;
  }

  // The next message of type `type`; earlier ones are kept in seen. Null
  // (a discarded value) on a timeout, a close or a malformed message.
  nlohmann::json waitFor(const std::string& type) {
    using nlohmann::json;
    for (;;) {
      boost::beast::flat_buffer buffer;
      boost::system::error_code ec;
      bool done = false;
      ws_.async_read(buffer, [&](boost::system::error_code e, size_t) {
        ec = e;
        done = true;
      });
      if (!runUntil(&done) || ec) return json(json::value_t::discarded);
      json message = json::parse(boost::beast::buffers_to_string(buffer.data()), nullptr, false);
      if (message.is_discarded() || !message.is_object()) return message;
      seen.push_back(message.value("t", ""));
      if (message.value("t", "") == type) return message;
    }
  }

  std::vector<std::string> seen;

 private:
  // Runs the handlers until *done or the timeout; on a timeout the socket
  // is closed (the page is unusable after that).
  bool runUntil(bool* done) {
    io_.restart();
    DWORD start = GetTickCount();
    while (!*done && GetTickCount() - start < kStepMs) io_.run_for(std::chrono::milliseconds(50));
    if (*done) return true;
    boost::system::error_code ec;
    ws_.next_layer().close(ec);
    io_.restart();
    io_.run_for(std::chrono::milliseconds(500));
    return false;
  }

  boost::asio::io_context io_;
  boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws_{io_};
};

}  // namespace qova
