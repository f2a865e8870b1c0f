// A scripted quiz server's room feed for tests: it listens on a free port,
// takes one feed client at a time, greets it as the server does, checks the
// client's greeting and sends whatever lines the test gives it. Every wait
// is bounded, so that no test can hang on the client under test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qova::testing {

class ScriptedFeed {
 public:
  // Listens on a free port (loopback included).
  ScriptedFeed();
  ~ScriptedFeed();
  ScriptedFeed(const ScriptedFeed&) = delete;
  ScriptedFeed& operator=(const ScriptedFeed&) = delete;

  bool listening() const;
  uint16_t port() const;

  // Waits up to `ms` for a client, sends the feed's greeting and reads the
  // client's first line. True when the client sent the feed's greeting.
  bool accept(int ms = 5000);
  // The client's first line as it came, CR LF included.
  const std::string& clientLine() const;
  // Sends bytes to the client; false when none is connected or it failed.
  bool send(const std::string& bytes);
  // The client's next line (a host command), CR LF included; empty when
  // none came within `ms`.
  std::string readLine(int ms = 5000);
  // Whether the client sends nothing more and closes within `ms` (a feed
  // client sends only commands after its greeting, and closes after a fault).
  bool clientCloses(int ms);
  // Closes the client's connection (the server restarting, say).
  void closeClient();
  // Stops listening too.
  void close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qova::testing
