#include "testing/scripted_feed.h"

#include "testing/loopback_peer.h"

namespace qova::testing {

namespace {
const char kGreeting[] = "QOVA ROOM FEED\t1\r\n";
}

struct ScriptedFeed::Impl {
  bool started = startSockets();
  std::unique_ptr<LoopbackListener> listener = std::make_unique<LoopbackListener>();
  LoopbackPeer client;
  std::string line;
};

ScriptedFeed::ScriptedFeed() : impl_(std::make_unique<Impl>()) {}

ScriptedFeed::~ScriptedFeed() { close(); }

bool ScriptedFeed::listening() const { return impl_->listener && impl_->listener->isListening(); }

uint16_t ScriptedFeed::port() const { return impl_->listener ? impl_->listener->port() : 0; }

bool ScriptedFeed::accept(int ms) {
  Impl& g = *impl_;
  g.client.close();
  g.line.clear();
  if (!listening() || !g.listener->accept(&g.client, ms)) return false;
  if (!g.client.send(kGreeting)) return false;
  g.line = g.client.readLines(1, ms);
  return g.line == kGreeting;
}

const std::string& ScriptedFeed::clientLine() const { return impl_->line; }

bool ScriptedFeed::send(const std::string& bytes) {
  return impl_->client.isOpen() && impl_->client.send(bytes);
}

std::string ScriptedFeed::readLine(int ms) {
  if (!impl_->client.isOpen()) return "";
  return impl_->client.readLines(1, ms);
}

bool ScriptedFeed::clientCloses(int ms) {
  return !impl_->client.isOpen() || impl_->client.waitClosed(ms);
}

void ScriptedFeed::closeClient() { impl_->client.close(); }

void ScriptedFeed::close() {
  impl_->client.close();
  impl_->listener.reset();
}

}  // namespace qova::testing
