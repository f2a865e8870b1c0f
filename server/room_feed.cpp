#include "server/room_feed.h"

#include <algorithm>
#include <cstring>

#include "common/run_log.h"
#include "common/tick.h"
#include "net/peer_address.h"
#include "server/server_app.h"
#include "wire/server_side.h"
#include "wire/wire.h"

namespace qova {

namespace {

constexpr size_t kGreetingSize = sizeof kRoomFeedGreeting - 1;
constexpr char kEnd[] = "\r\n";

std::string num(int64_t n) { return std::to_string(n); }

// Sends what the socket takes now; a failed send closes the client.
void flushClient(FeedClient& client) {
  while (!client.closing && client.pending() > 0) {
    int n = sendSome(client.socket.handle(), client.outbox.data() + client.sent, client.pending(),
                     true);
    if (n == kSocketWouldBlock || n == 0) break;
    if (n < 0) {
      client.closing = true;
      break;
    }
    client.sent += static_cast<size_t>(n);
  }
  if (client.sent == client.outbox.size()) {
    client.outbox.clear();
    client.sent = 0;
  } else if (client.sent > (1u << 20) && client.sent > client.outbox.size() / 2) {
    client.outbox.erase(0, client.sent);
    client.sent = 0;
  }
}

void queue(RoomFeed& feed, FeedClient& client, const std::string& text) {
  if (client.closing) return;
  client.outbox += text;
  feed.bytesQueued += text.size();
  flushClient(client);
  // A client that stopped reading is let go; the game never waits for it.
  if (client.pending() > kMaxFeedQueueBytes) client.closing = true;
}

void broadcast(RoomFeed& feed, const std::string& text) {
  for (auto& client : feed.clients) {
    if (client->greeted) queue(feed, *client, text);
  }
}

void sweep(RoomFeed& feed) {
  // A command being run may tell the room; the clients stay in place until
  // the service is through with them.
  if (feed.serving) return;
  feed.clients.erase(
      std::remove_if(feed.clients.begin(), feed.clients.end(),
                     [](const std::unique_ptr<FeedClient>& c) { return c->closing; }),
      feed.clients.end());
}

std::string joinText(const PlayerRecord& player) {
  return "JOIN\t" + num(player.number) + "\t" + feedField(player.name) + kEnd;
}

std::string holdText(const RoomFeed& feed) {
  return std::string("HOLD\t") + (feed.held ? "1" : "0") + "\t" +
         (feed.holdAfterRound ? "1" : "0") + kEnd;
}

std::string countsText(int32_t in, int32_t awaited) {
  return "ANSWERS\t" + num(in) + "\t" + num(awaited) + kEnd;
}

void sendCounts(ServerApp& app) {
  RoomFeed& feed = app.feed;
  broadcast(feed, countsText(feed.in, feed.awaited));
  feed.sentIn = feed.in;
  feed.sentAwaited = feed.awaited;
  feed.countsSentAt = app.ticks();
  feed.countsDue = false;
}

// What a client is told once its greeting is in: the settings and the room
// as it stands.
void tellState(ServerApp& app, FeedClient& client) {
  RoomFeed& feed = app.feed;
  std::string text = "SETTINGS\t" + feedField(app.timeLimitText) + "\t" +
                     num(app.questionsPerRound) + "\t" + num(app.questions.responseCount()) + kEnd;
  text += holdText(feed);
  for (const PlayerRecord& player : app.players) {
    if (player.number > 0) text += joinText(player);
  }
  if (feed.started) text += "START\t" + num(feed.startCount) + kEnd;
  if (!feed.question.empty()) {
    // The latest count, also when the others are still to hear it.
    text += feed.question + countsText(feed.in, feed.awaited);
  } else {
    text += feed.results + feed.summary;
  }
  queue(feed, client, text);
}

// Runs every whole command line that has come; a line that is no command,
// or too long, closes the client.
void runCommands(ServerApp& app, FeedClient& client) {
  std::string line;
  for (;;) {
    LineBuffer::Take take = client.commands.take(&line);
    if (take == LineBuffer::Take::kNeedMore) {
      // Bytes that cannot begin a command close the client at once, and so
      // do a lone LF and a CR that no LF follows (no CR LF is among them).
      static constexpr char kPrefix[] = "COMMAND\t";
      const char* data = client.commands.data();
      const size_t size = client.commands.size();
      const size_t n = std::min(size, sizeof kPrefix - 1);
      if (std::memcmp(data, kPrefix, n) != 0 || std::memchr(data, '\n', size) != nullptr ||
          (size > 1 && std::memchr(data, '\r', size - 1) != nullptr)) {
        client.closing = true;
      }
      return;
    }
    FeedCommand command;
    if (take != LineBuffer::Take::kLine || !parseFeedCommand(line, &command)) {
      client.closing = true;
      return;
    }
    std::string refused = "Unknown command.";
    if (command.verb != FeedVerb::kUnknown && app.feed.onCommand) {
      refused = app.feed.onCommand(command);
    }
    queue(app.feed, client,
          refused.empty() ? "DONE\t" + command.tag + kEnd
                          : "REFUSED\t" + command.tag + "\t" + feedField(refused) + kEnd);
    if (client.closing) return;
  }
}

void receive(ServerApp& app, FeedClient& client) {
  char buffer[256];
  int n = receiveSome(client.socket.handle(), buffer, sizeof buffer);
  if (n == kSocketWouldBlock) return;
  if (n <= 0) {
    client.closing = true;
    return;
  }
  int i = 0;
  // What comes first must be the greeting, byte for byte.
  for (; i < n && !client.greeted; ++i) {
    if (buffer[i] != kRoomFeedGreeting[client.greetingBytes]) {
      client.closing = true;
      return;
    }
    if (++client.greetingBytes == kGreetingSize) {
      client.greeted = true;
      tellState(app, client);
    }
  }
  if (i == n) return;
  client.commands.append(buffer + i, static_cast<size_t>(n - i));
  runCommands(app, client);
}

void acceptClient(ServerApp& app) {
  RoomFeed& feed = app.feed;
  AcceptError error = AcceptError::kNone;
  Socket socket = feed.listener->accept(&error);
  if (!socket.isValid()) {
    if (error == AcceptError::kNone || error == AcceptError::kTransient) return;
    // Out of descriptors or a listener that failed: rather than wake again
    // and again for a connection it cannot take, the feed stops listening.
    // The clients it has go on.
    feed.listener.reset();
    RunLog::process().write("Room feed stopped listening: accept failed.", app.logFileName.c_str());
    return;
  }
  if (feed.clients.size() >= kMaxFeedClients) return;  // closed as `socket` goes
  // The listener is on 127.0.0.1; a peer elsewhere is no client of the feed.
  if (!peerIsLoopback(socket.handle())) return;
  auto client = std::make_unique<FeedClient>(socket, app.ticks());
  queue(feed, *client, kRoomFeedGreeting);
  feed.clients.push_back(std::move(client));
}

}  // namespace

std::string feedField(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

bool openRoomFeed(ServerApp& app) {
  RoomFeed& feed = app.feed;
  if (feed.port < 0 || feed.listener) return feed.listener.has_value();
  feed.listener.emplace();
  if (!feed.listener->listen(static_cast<uint16_t>(feed.port), 16, true)) {
    feed.listener.reset();
    RunLog::process().write(roomFeedUnavailableText(feed.port).c_str(), app.logFileName.c_str());
    return false;
  }
  return true;
}

std::string roomFeedUnavailableText(int port) {
  return "Room feed not started: port " + num(port) + " on 127.0.0.1 could not be opened.";
}

uint16_t roomFeedPort(const ServerApp& app) {
  return app.feed.listener ? app.feed.listener->localPort() : 0;
}

int roomFeedAddEntries(ServerApp& app, std::vector<PollEntry>& entries) {
  RoomFeed& feed = app.feed;
  int due = -1;
  auto sooner = [&due](uint32_t ms) {
    int m = ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms);
    if (due < 0 || m < due) due = m;
  };
  const uint32_t now = app.ticks();
  feed.askedListener = feed.listener.has_value();
  feed.askedClients = feed.clients.size();
  if (feed.askedListener) {
    PollEntry e;
    e.handle = feed.listener->handle();
    e.wantRead = true;
    entries.push_back(e);
  }
  for (const auto& client : feed.clients) {
    PollEntry e;
    e.handle = client->socket.handle();
    e.wantRead = true;  // the greeting, a close, or bytes that break the rules
    e.wantWrite = client->pending() > 0;
    entries.push_back(e);
    if (!client->greeted) {
      uint32_t waited = now - client->acceptedAt;
      sooner(waited >= kFeedGreetingTimeoutMs ? 0 : kFeedGreetingTimeoutMs - waited);
    }
  }
  if (feed.countsDue) {
    uint32_t since = now - feed.countsSentAt;
    sooner(since >= kFeedAnswersIntervalMs ? 0 : kFeedAnswersIntervalMs - since);
  }
  return due;
}

void roomFeedService(ServerApp& app, std::vector<PollEntry>& entries, size_t first) {
  RoomFeed& feed = app.feed;
  size_t have = entries.size() > first ? entries.size() - first : 0;
  feed.sockets.assign(
      entries.begin() + static_cast<std::ptrdiff_t>(std::min(first, entries.size())),
      entries.end());
  entries.resize(std::min(first, entries.size()));
  size_t at = 0;
  feed.serving = true;
  if (feed.askedListener && at < have) {
    bool ready = feed.sockets[at++].readable;
    if (ready && feed.listener) acceptClient(app);
  }
  for (size_t k = 0; k < feed.askedClients && at < have && k < feed.clients.size(); ++k, ++at) {
    FeedClient& client = *feed.clients[k];
    if (feed.sockets[at].writable) flushClient(client);
    if (feed.sockets[at].readable && !client.closing) receive(app, client);
  }
  const uint32_t now = app.ticks();
  for (auto& client : feed.clients) {
    if (!client->greeted && now - client->acceptedAt >= kFeedGreetingTimeoutMs) {
      client->closing = true;
    }
  }
  if (feed.countsDue && now - feed.countsSentAt >= kFeedAnswersIntervalMs) sendCounts(app);
  feed.serving = false;
  sweep(feed);
}

void roomFeedJoin(ServerApp& app, size_t playerIndex) {
  if (playerIndex >= app.players.size() || app.players[playerIndex].number <= 0) return;
  broadcast(app.feed, joinText(app.players[playerIndex]));
  sweep(app.feed);
}

void roomFeedDrop(ServerApp& app, int32_t number) {
  if (number <= 0) return;
  broadcast(app.feed, "DROP\t" + num(number) + kEnd);
  sweep(app.feed);
}

void roomFeedRemove(ServerApp& app, int32_t number) {
  if (number <= 0) return;
  broadcast(app.feed, "REMOVE\t" + num(number) + kEnd);
  sweep(app.feed);
}

void roomFeedStart(ServerApp& app) {
  RoomFeed& feed = app.feed;
  feed.started = true;
  feed.startCount = static_cast<int32_t>(app.players.size());
  broadcast(feed, "START\t" + num(feed.startCount) + kEnd);
  sweep(feed);
}

void roomFeedQuestion(ServerApp& app, const ServerQuestionRecord& question, int32_t round,
                      int32_t numberInRound) {
  RoomFeed& feed = app.feed;
  std::string text = "QUESTION\t" + num(round) + "\t" + num(numberInRound) + "\t" +
                     num(app.questionsPerRound) + "\t" + feedField(app.timeLimitText) + "\t" +
                     feedField(question.question);
  for (const std::string& response : question.responses) text += "\t" + feedField(response);
  text += kEnd;
  feed.question = text;
  feed.results.clear();
  feed.summary.clear();
  broadcast(feed, text);
  // Every question's count starts at none of every player, at once.
  feed.in = 0;
  feed.awaited = static_cast<int32_t>(app.players.size());
  sendCounts(app);
  sweep(feed);
}

void roomFeedAnswers(ServerApp& app, int32_t in, int32_t awaited) {
  RoomFeed& feed = app.feed;
  feed.in = in;
  feed.awaited = awaited;
  if (in == feed.sentIn && awaited == feed.sentAwaited) {
    feed.countsDue = false;
    return;
  }
  if (app.ticks() - feed.countsSentAt >= kFeedAnswersIntervalMs) {
    sendCounts(app);
    sweep(feed);
  } else {
    feed.countsDue = true;
  }
}

void roomFeedResults(ServerApp& app, char correct) {
  RoomFeed& feed = app.feed;
  // The last count goes before the results, whatever its time.
  if (feed.countsDue) sendCounts(app);
  std::string lines;
  int32_t count = 0;
  for (const PlayerRecord& player : app.players) {
    if (player.rounds.empty() || player.rounds.back().empty()) continue;
    const Response& answer = player.rounds.back().back();
    lines += num(player.number) + "\t" + feedField(answer.timeText) + "\t" +
             (answer.correct ? "r" : "w") + kEnd;
    ++count;
  }
  const int correctNumber = correct >= '1' && correct <= '9' ? correct - '0' : 0;
  feed.results = "RESULTS\t" + num(correctNumber) + "\t" + num(count) + kEnd + lines;
  feed.summary.clear();
  feed.question.clear();
  broadcast(feed, feed.results);
  sweep(feed);
}

void roomFeedSummary(ServerApp& app, int32_t round) {
  RoomFeed& feed = app.feed;
  std::string text =
      "SUMMARY\t" + num(round) + "\t" + num(static_cast<int64_t>(app.players.size())) + kEnd;
  for (const PlayerRecord& player : app.players) {
    RoundTotals t = roundTotals(player);
    text += num(player.number) + "\t" + num(t.roundCorrect) + "\t" + averageText(t.roundAverage) +
            "\t" + num(t.roundAnswers) + "\t" + num(t.totalCorrect) + "\t" +
            averageText(t.totalAverage) + "\t" + num(t.totalAnswers) + kEnd;
  }
  feed.summary = text;
  broadcast(feed, text);
  sweep(feed);
}

void roomFeedHold(ServerApp& app, bool held, bool holdAfterRound) {
  RoomFeed& feed = app.feed;
  if (feed.held == held && feed.holdAfterRound == holdAfterRound) return;
  feed.held = held;
  feed.holdAfterRound = holdAfterRound;
  broadcast(feed, holdText(feed));
  sweep(feed);
}

void roomFeedEnd(ServerApp& app) {
  RoomFeed& feed = app.feed;
  feed.listener.reset();
  broadcast(feed, std::string("END") + kEnd);
  sweep(feed);
  // The real clock: the game's may be a test's, which stands still here.
  const uint32_t start = tickCount();
  for (;;) {
    std::vector<PollEntry> entries;
    std::vector<FeedClient*> waiting;
    for (auto& client : feed.clients) {
      if (!client->greeted || client->closing || client->pending() == 0) continue;
      PollEntry e;
      e.handle = client->socket.handle();
      e.wantWrite = true;
      entries.push_back(e);
      waiting.push_back(client.get());
    }
    uint32_t spent = tickCount() - start;
    if (entries.empty() || spent >= kFeedEndFlushMs) break;
    int ready =
        pollSockets(entries.data(), entries.size(), static_cast<int>(kFeedEndFlushMs - spent));
    if (ready < 0) break;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].writable) flushClient(*waiting[i]);
    }
  }
  feed.clients.clear();
  feed.question.clear();
}

}  // namespace qova
