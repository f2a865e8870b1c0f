// The room feed: what happens in the room, told as it happens to a few
// programs on the server's own computer (the gateway's room screen), on
// 127.0.0.1 port 5633 (docs/protocol.md, "The room feed"). Its listener, its
// clients and their outboxes live here, and every feed message is built here
// from the server's own records (ServerApp's players, the question as sent,
// the results and summaries); the lobby and the game call the notification
// functions below where the events happen. The feed's sockets join the
// loops' one wait: roomFeedAddEntries before the wait, roomFeedService after.
// Nothing here blocks, except the bounded flush of roomFeedEnd at shutdown.
//
// Greeted clients may send the host's commands (server/feed_command.h); the
// service reads them as they come and hands each to RoomFeed::onCommand,
// which the program running the loop sets, and answers DONE or REFUSED to
// that client alone, in the order the commands came. Only connections from
// this computer are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/net.h"
#include "qdb/question_record.h"
#include "server/feed_command.h"
#include "server/socket.h"
#include "wire/line_buffer.h"
#include "wire/room_feed.h"

namespace qova {

struct ServerApp;

constexpr size_t kMaxFeedClients = 4;
constexpr size_t kMaxFeedQueueBytes = 8 << 20;     // a client's unsent bytes
constexpr uint32_t kFeedGreetingTimeoutMs = 5000;  // for the client's greeting line
constexpr uint32_t kFeedAnswersIntervalMs = 100;   // between two ANSWERS
constexpr uint32_t kFeedEndFlushMs = 2000;         // at most, at shutdown

struct FeedClient {
  explicit FeedClient(const Socket& s, uint32_t at) : socket(s), acceptedAt(at) {}
  Socket socket;
  uint32_t acceptedAt;
  size_t greetingBytes = 0;                  // of the client's greeting received so far
  bool greeted = false;                      // its greeting is complete: it is told the room
  bool closing = false;                      // to be closed after the service
  LineBuffer commands{kMaxFeedCommandLine};  // what came after the greeting
  std::string outbox;
  size_t sent = 0;
  size_t pending() const { return outbox.size() - sent; }
};

struct RoomFeed {
  // -1: no feed (the engine's own tests); the programs set kRoomFeedPort,
  // tests 0 for a free port.
  int port = -1;
  std::optional<Socket> listener;
  std::vector<std::unique_ptr<FeedClient>> clients;

  // What a client that comes midway is told besides the players: these are
  // the messages as they were sent, not the game's state.
  bool started = false;
  int32_t startCount = 0;
  std::string question;  // the QUESTION out, "" when none is
  std::string results;   // the last RESULTS, and the SUMMARY when it ended a round
  std::string summary;
  // The hold as the last HOLD told it.
  bool held = false;
  bool holdAfterRound = false;

  // Runs one command as the program's own control would: "" when done, else
  // the reason it was refused. Empty: every command is refused as unknown.
  std::function<std::string(const FeedCommand&)> onCommand;

  // The answer counts: the last sent, the latest known, when the last went.
  int32_t sentIn = -1, sentAwaited = -1;
  int32_t in = 0, awaited = 0;
  bool countsDue = false;
  uint32_t countsSentAt = 0;

  // What the last wait was asked: the listener (when open) then the clients.
  std::vector<PollEntry> sockets;
  size_t askedClients = 0;
  bool askedListener = false;
  bool serving = false;  // within roomFeedService: closed clients are swept at its end

  // Bytes queued for clients in all (the benchmark's figure).
  uint64_t bytesQueued = 0;
};

// Opens the listener when feed.port >= 0; when the port cannot be had, one
// run-log line and no feed. True when the feed listens.
bool openRoomFeed(ServerApp& app);
uint16_t roomFeedPort(const ServerApp& app);  // the bound port; 0 without a feed
// The run log's line when the port could not be had.
std::string roomFeedUnavailableText(int port);

// The wait: appends the feed's entries to `entries` and gives the
// milliseconds until the feed has something to do without a socket (an
// ANSWERS due, a greeting's time running out), -1 for nothing.
int roomFeedAddEntries(ServerApp& app, std::vector<PollEntry>& entries);
// After the wait (or a query): takes the feed's entries back off `entries`
// (from `first`), and accepts, reads, writes and sends what is due.
void roomFeedService(ServerApp& app, std::vector<PollEntry>& entries, size_t first);

// The events. Players are named by PlayerRecord::number.
void roomFeedJoin(ServerApp& app, size_t playerIndex);  // app.players[playerIndex] joined
void roomFeedDrop(ServerApp& app, int32_t number);
void roomFeedRemove(ServerApp& app, int32_t number);
void roomFeedStart(ServerApp& app);
// The question just sent: its round and number in the round; the counts
// start at 0 of every player.
void roomFeedQuestion(ServerApp& app, const ServerQuestionRecord& question, int32_t round,
                      int32_t numberInRound);
// The counts now; an ANSWERS goes when they changed, at most one every
// kFeedAnswersIntervalMs, and the last always.
void roomFeedAnswers(ServerApp& app, int32_t in, int32_t awaited);
// The results just sent, from the players' last answers (those who have an
// answer in the current round), with the question's correct response.
void roomFeedResults(ServerApp& app, char correct);
void roomFeedSummary(ServerApp& app, int32_t round);
// The hold now; a HOLD line goes out when either value changed.
void roomFeedHold(ServerApp& app, bool held, bool holdAfterRound);
// The game is over: END to every client, flushed for at most
// kFeedEndFlushMs, then every feed socket is closed.
void roomFeedEnd(ServerApp& app);

// A text as one plain field: tabs, CRs and LFs become blanks.
std::string feedField(const std::string& text);

}  // namespace qova
