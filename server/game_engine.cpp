#include "server/game_engine.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_set>

#include "server/client_connection.h"
#include "server/results_save.h"
#include "wire/play_rules.h"
#include "wire/player_side.h"

namespace qova {

namespace {

// One draw: a single generator value while it can reach every record, the
// values of two (or three) draws joined beyond 32768 records.
int64_t drawValue(int32_t recordCount, RandomGenerator& random) {
  constexpr int32_t kOneDraw = kRandomMax + 1;  // 32768
  int64_t r = random.next();
  if (recordCount > kOneDraw) r = (r << 15) | random.next();
  if (recordCount > (int64_t{1} << 30)) r = (r << 15) | random.next();
  return r;
}

void sendToAll(ServerApp& app, const std::string& bytes) {
  for (auto& client : app.clients) client->send(bytes);
}

// The database failed under the game (a share that dropped): the game ends
// through the error report, which shuts down and writes the results.
bool questionsUnreadable(ServerApp& app) {
  app.errorText = kMsgLoadingQuestions;
  app.errorFlags = kStartupErrorFlags;
  app.exitCode = 1;
  return false;
}

// Records `timeText`, Wrong, for every player whose answer is awaited; each
// of them owes its own answer, which is discarded when it comes.
void recordAwaited(ServerApp& app, GameState& game, const std::string& timeText) {
  for (size_t j = 0; j < app.clients.size(); ++j) {
    ClientConnection& client = *app.clients[j];
    if (client.answered()) continue;
    Response missed;
    missed.timeText = timeText;
    missed.correct = false;
    app.players[j].rounds.back().push_back(missed);
    client.answerRecorded();
    --game.pendingAnswers;
  }
}

// Erases player j and gives its number.
int32_t eraseClient(ServerApp& app, size_t j) {
  const int32_t number = app.players[j].number;
  app.clients.erase(app.clients.begin() + static_cast<std::ptrdiff_t>(j));
  app.players.erase(app.players.begin() + static_cast<std::ptrdiff_t>(j));
  return number;
}

}  // namespace

uint32_t answerDeadlineMs(double limitSeconds) {
  if (!(limitSeconds > 0)) return 0;
  double ms = std::ceil((limitSeconds + kDeadlineGraceSeconds) * 1000);
  // Beyond half the tick counter's range elapsed time could not be told
  // from a wrapped counter; such a limit is no limit in practice.
  return ms >= 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<uint32_t>(ms);
}

std::vector<int32_t> drawRecordNumbers(int32_t n, int32_t recordCount, RandomGenerator& random) {
  std::vector<int32_t> numbers;
  if (recordCount <= 0 || n <= 0) return numbers;
  if (n > recordCount) n = recordCount;  // more could never be drawn distinct
  numbers.reserve(static_cast<size_t>(n));
  std::unordered_set<int32_t> drawn;
  drawn.reserve(static_cast<size_t>(n));
  while (numbers.size() < static_cast<size_t>(n)) {
    int32_t x = static_cast<int32_t>(1 + drawValue(recordCount, random) % recordCount);
    if (drawn.insert(x).second) numbers.push_back(x);
  }
  return numbers;
}

bool startRound(ServerApp& app, GameState& game) {
  // The round is fetched before it is begun, so a round that cannot be read
  // leaves no empty round in anyone's results.
  const std::vector<int32_t> numbers =
      drawRecordNumbers(app.questionsPerRound, app.questions.recordCount());
  if (!app.questions.fetch(numbers, game.roundQuestions)) return false;
  std::vector<AskedQuestion>& asked = app.askedRounds.emplace_back();
  for (size_t i = 0; i < numbers.size() && i < game.roundQuestions.size(); ++i) {
    const ServerQuestionRecord& record = game.roundQuestions[i];
    const int correct = record.correct - '0';
    asked.push_back({numbers[i], record.question,
                     correct >= 1 && static_cast<size_t>(correct) <= record.responses.size()
                         ? record.responses[static_cast<size_t>(correct) - 1]
                         : std::string()});
  }
  for (PlayerRecord& player : app.players) player.rounds.emplace_back();
  return true;
}

void broadcastQuestion(ServerApp& app, GameState& game) {
  size_t index = static_cast<size_t>(game.questionIndex);
  ServerQuestionRecord none;
  const ServerQuestionRecord& question =
      index < game.roundQuestions.size() ? game.roundQuestions[index] : none;
  for (auto& client : app.clients) client->sendQuestion(question);
  game.pendingAnswers = static_cast<int32_t>(app.clients.size());
  ++game.questionIndex;
  game.questionSentAt = app.ticks();
  game.deadlineMs = answerDeadlineMs(timeLimitSeconds(app.timeLimitText));
  game.questionOut = true;
  roomFeedQuestion(app, question, static_cast<int32_t>(app.askedRounds.size()), game.questionIndex);
}

bool gameTurn(ServerApp& app, GameState& game) {
  // Between shutdown and the quit message nothing is left to play.
  if (app.quitPosted) return true;
  // The readiness the last wait found, one entry per client (none asked
  // for when the clients changed since, between the wait and this turn).
  std::vector<PollEntry>& ready = game.sockets;
  if (ready.size() != app.clients.size()) ready.assign(app.clients.size(), PollEntry{});
  // What a player's socket could not take at once goes out first.
  for (size_t j = 0; j < app.clients.size(); ++j) {
    if (ready[j].writable && app.clients[j]->hasPendingOutput()) app.clients[j]->flush();
  }
  // The next question: the first, or the one a hold kept back.
  if (!game.questionOut && !game.held) {
    if (game.gameStarting) {
      if (!startRound(app, game)) return questionsUnreadable(app);
      game.gameStarting = false;
    }
    broadcastQuestion(app, game);
  }
  for (size_t j = 0; j < app.clients.size(); ++j) {
    ClientConnection& client = *app.clients[j];
    if (client.answered()) continue;
    if (!client.pollAnswer(ready[j].readable)) {
      // Dropped with its results; the client moving into place j waits for
      // the next call.
      --game.pendingAnswers;
      roomFeedDrop(app, eraseClient(app, j));
      ready.erase(ready.begin() + static_cast<std::ptrdiff_t>(j));
      continue;
    }
    if (client.answered()) {
      app.players[j].rounds.back().push_back(client.takeAnswer());
      --game.pendingAnswers;
    }
  }
  if (app.clients.empty()) {
    app.errorText = kMsgAllDropped;
    app.errorFlags = kDroppedErrorFlags;
    app.exitCode = 0;
    return false;
  }
  // Held between questions: nothing is out, nothing is due.
  if (!game.questionOut) return true;
  // Answers that arrived are taken above, also at the deadline itself.
  if (game.pendingAnswers != 0 && game.deadlineMs != 0 &&
      app.ticks() - game.questionSentAt >= game.deadlineMs) {
    recordAwaited(app, game, timeoutTimeText(timeLimitSeconds(app.timeLimitText)));
  }
  roomFeedAnswers(app, static_cast<int32_t>(app.clients.size()) - game.pendingAnswers,
                  game.pendingAnswers);
  if (game.pendingAnswers != 0) return true;

  // Every player's block is the same for every client, so each message is
  // built once and handed to each client whole: the bytes are those of the
  // block-by-block sends, in far fewer calls.
  std::string results;
  for (const PlayerRecord& player : app.players) {
    if (!player.rounds.empty() && !player.rounds.back().empty()) results += resultLineBlock(player);
  }
  results += blankLine();
  const size_t ended = static_cast<size_t>(game.questionIndex) - 1;
  const char correct = ended < game.roundQuestions.size() ? game.roundQuestions[ended].correct : 0;
  game.questionOut = false;
  if (game.questionIndex >= app.questionsPerRound) {
    for (const PlayerRecord& player : app.players) {
      results += roundSummaryBlock(player, roundTotals(player));
    }
    results += blankLine();
    sendToAll(app, results);
    roomFeedResults(app, correct);
    roomFeedSummary(app, static_cast<int32_t>(app.askedRounds.size()));
    if (!startRound(app, game)) return questionsUnreadable(app);
    // The rounds played so far, saved as Quit would write them now.
    saveRoundResults(app);
    game.questionIndex = 0;
    // The break between rounds is the host's when they asked for it.
    if (game.holdAfterRound) holdGame(app, game);
  } else {
    sendToAll(app, results);
    roomFeedResults(app, correct);
  }
  if (!game.held) broadcastQuestion(app, game);
  return true;
}

namespace {

// One entry per client: its answer awaited, or bytes queued for it.
void prepareWait(const ServerApp& app, GameState& game) {
  game.sockets.resize(app.clients.size());
  for (size_t j = 0; j < app.clients.size(); ++j) {
    const ClientConnection& client = *app.clients[j];
    PollEntry& e = game.sockets[j];
    e = PollEntry{};
    e.handle = client.handle();
    e.wantRead = !client.answered();
    e.wantWrite = client.hasPendingOutput();
  }
}

void noneReady(GameState& game) {
  for (PollEntry& e : game.sockets) e.readable = e.writable = false;
}

}  // namespace

bool gameTick(ServerApp& app, GameState& game) {
  prepareWait(app, game);
  const size_t first = game.sockets.size();
  roomFeedAddEntries(app, game.sockets);
  if (pollSockets(game.sockets.data(), game.sockets.size(), 0) < 0) noneReady(game);
  roomFeedService(app, game.sockets, first);
  return gameTurn(app, game);
}

int gameDueMs(const ServerApp& app, const GameState& game) {
  if (app.quitPosted) return -1;
  // The last player removed while held: the turn ends the game.
  if (app.clients.empty()) return 0;
  if (!game.questionOut) return game.held ? -1 : 0;
  if (game.pendingAnswers <= 0) return 0;
  for (const auto& client : app.clients) {
    if (!client->answered() && client->dropPending()) return 0;
  }
  if (game.deadlineMs == 0) return -1;
  uint32_t elapsed = app.ticks() - game.questionSentAt;
  return elapsed >= game.deadlineMs ? 0 : static_cast<int>(game.deadlineMs - elapsed);
}

WaitOutcome gameWait(ServerApp& app, GameState& game, SocketWait& wait, int limitMs) {
  prepareWait(app, game);
  const size_t first = game.sockets.size();
  int due = gameDueMs(app, game);
  const int feedDue = roomFeedAddEntries(app, game.sockets);
  if (feedDue >= 0 && (due < 0 || feedDue < due)) due = feedDue;
  int timeout = due < 0 ? limitMs : limitMs < 0 ? due : std::min(due, limitMs);
  WaitOutcome outcome = wait.wait(game.sockets.data(), game.sockets.size(), timeout);
  if (outcome == WaitOutcome::kFailed &&
      pollSockets(game.sockets.data(), game.sockets.size(), 0) < 0) {
    noneReady(game);
  }
  if (outcome == WaitOutcome::kMessage || outcome == WaitOutcome::kWoken) noneReady(game);
  // The feed's entries are taken back off, so the turn sees the players'.
  roomFeedService(app, game.sockets, first);
  return outcome;
}

bool gameWaitTurn(ServerApp& app, GameState& game, SocketWait& wait, int limitMs,
                  WaitOutcome* outcome) {
  WaitOutcome woke = gameWait(app, game, wait, limitMs);
  if (outcome != nullptr) *outcome = woke;
  if (woke == WaitOutcome::kMessage || woke == WaitOutcome::kWoken) return true;
  return gameTurn(app, game);
}

GameState& processGame() {
  static GameState game;
  return game;
}

bool gameTick() {
  ServerAppRef app;
  return gameTick(*app, processGame());
}

bool endQuestion(ServerApp& app, GameState& game) {
  if (!game.questionOut || game.pendingAnswers == 0) return false;
  double elapsed = (app.ticks() - game.questionSentAt) / 1000.0;
  double limit = timeLimitSeconds(app.timeLimitText);
  recordAwaited(app, game,
                limit > 0 && elapsed > limit ? timeoutTimeText(limit) : secondsText(elapsed));
  return true;
}

bool removePlayer(ServerApp& app, GameState& game, size_t index) {
  if (index >= app.clients.size()) return false;
  if (!app.clients[index]->answered()) --game.pendingAnswers;
  roomFeedRemove(app, eraseClient(app, index));
  return true;
}

Removal removeChosenPlayer(ServerApp& app, GameState& game, void* owner, int index,
                           const std::string& shownName, bool inGame, const char* chooseFirst) {
  auto ask = [&](const std::string& text, unsigned type) {
    MessageRequest request;
    request.owner = owner;
    request.text = text;
    request.caption = "Notice";
    request.type = type;
    return app.shell.prompts.messageBox ? app.shell.prompts.messageBox(request) : kIdOk;
  };
  if (index < 0) {
    ask(chooseFirst, kMbOk | kMbIconInformation);
    return Removal::kNoneChosen;
  }
  // The Statistics window's lists are filled when the operator chooses, so
  // a player who has left since may have moved what the entry designates.
  const size_t at = static_cast<size_t>(index);
  if (at >= app.players.size() || app.players[at].name != shownName) {
    ask("The list of players has changed. Choose the player again.", kMbOk | kMbIconInformation);
    return Removal::kListChanged;
  }
  std::string question = "Remove " + shownName + " from the game?";
  if (inGame) question += " Their answers are removed with them.";
  if (ask(question, kMbYesNo | kMbIconInformation) != kIdYes) return Removal::kDeclined;
  // The box is modal and no turn runs while it is up: the entry is still
  // that player.
  removePlayer(app, game, at);
  return Removal::kRemoved;
}

const char kHeldLine[] = "Held: press Go On for the next question.";

bool waitingForGoOn(const GameState& game) { return game.held && !game.questionOut; }

bool holdGame(ServerApp& app, GameState& game) {
  if (game.held) return false;
  game.held = true;
  roomFeedHold(app, game.held, game.holdAfterRound);
  return true;
}

bool goOn(ServerApp& app, GameState& game) {
  if (!game.held) return false;
  game.held = false;
  roomFeedHold(app, game.held, game.holdAfterRound);
  return true;
}

bool setHoldAfterRound(ServerApp& app, GameState& game, bool on) {
  if (game.holdAfterRound == on) return false;
  game.holdAfterRound = on;
  roomFeedHold(app, game.held, game.holdAfterRound);
  return true;
}

std::string answersLine(const ServerApp& app, const GameState& game) {
  if (waitingForGoOn(game)) return kHeldLine;
  if (game.gameStarting) return "";
  const int32_t playing = static_cast<int32_t>(app.clients.size());
  return "Answers: " + std::to_string(playing - game.pendingAnswers) + " of " +
         std::to_string(playing);
}

}  // namespace qova
