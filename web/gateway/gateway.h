// The gateway's network shell: one io_context on the caller's thread serves
// the page over HTTP and WebSocket and holds, for each seat, one TCP
// connection to the quiz server; when the server runs on the same computer
// it also reads the server's room feed for the room screen. Everything about pages and seats is
// decided by SeatRegistry and Seat; this class only moves bytes, keeps time,
// closes what they say, and caps the open connections.
//
// Nothing here throws: every Asio and Beast call takes an error_code or a
// handler. A Windows program can drive the gateway from its message loop
// with poll(); the console program calls run().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "web/gateway/embedded_files.h"
#include "web/seat/feed_reader.h"
#include "web/seat/seat.h"
#include "wire/play_rules.h"

namespace qova::web {

struct GatewayOptions {
  std::string serverHost = "127.0.0.1";  // dotted IPv4 of the quiz server
  uint16_t serverPort = kServerPort;
  // The quiz server's room feed on 127.0.0.1, read for the room screen
  // whenever serverHost is this computer (loopback or one of its own
  // addresses); 0: never.
  uint16_t feedPort = kRoomFeedPort;
  std::string httpAddress = "0.0.0.0";
  uint16_t httpPort = 8080;  // 0: any free port (see Gateway::httpPort)
  size_t maxSeats = 1000;    // seats not yet ended
  int joinsPerAddressPerSecond = 10;
  size_t seatsPerAddress = 8;  // seats not yet ended per client address (a room behind one
                               // address needs more)
  // Open connections per client address: at least 16, and two per seat it may hold.
  size_t connectionsPerAddress = 0;  // 0: max(16, 2 * seatsPerAddress)
  size_t reservedForResume = 8;      // connections kept for pages that resume a seat
  int unseatedPageMs = 30000;        // a page that holds no seat is closed after this
  int httpIdleMs = 15000;            // an HTTP connection with no complete request closes
  // A page socket is closed when more than this waits behind the message it is
  // being sent; one message alone is always sent, whatever its size.
  size_t pageQueueBytes = 4 << 20;
  int endedSeatKeepMs = 600000;    // an ended seat without a page is forgotten after this
  SeatPauses pauses;               // results shown before the next question
  std::vector<std::string> links;  // join links, for /info
  // The host page's key (32 lower-case hex digits); empty: a fresh one from
  // the secure random source (Gateway::hostKey).
  std::string hostKey;
  EmbeddedFiles files = {nullptr, 0};
  std::function<void(const std::string&)> log;  // one line per event worth showing
};

class Gateway {
 public:
  explicit Gateway(GatewayOptions options);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Opens the HTTP listener. False with *error when the port cannot be had.
  bool start(std::string* error);
  uint16_t httpPort() const;

  // Runs until stop() (from a handler or another thread).
  void run();
  // Runs the handlers that are ready, without waiting; returns their count.
  size_t poll();
  // Runs handlers for at most `ms` milliseconds.
  void runFor(int ms);
  // Closes every socket; run() then returns.
  void stop();

  // The host page's key, made afresh at each start unless the options gave
  // one; empty when no secure random bytes could be had (every key is then
  // wrong). It belongs in the host link alone, never in a log but that one.
  const std::string& hostKey() const;

  // Seats not yet ended; call it on the gateway's own thread.
  size_t seatCount() const;
  // Their names in Windows-1252, as the server has them, in the order they
  // joined; same thread.
  std::vector<std::string> seatNames() const;

  struct Impl;  // the sockets and seats, in gateway.cpp

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qova::web
