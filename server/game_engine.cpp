#include "server/game_engine.h"

#include <string>
#include <unordered_set>

#include "server/client_connection.h"

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

}  // namespace

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
    asked.push_back({numbers[i], game.roundQuestions[i].question});
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
}

bool gameTick(ServerApp& app, GameState& game) {
  // Between shutdown and the quit message nothing is left to play.
  if (app.quitPosted) return true;
  // What a player's socket could not take at once goes out first.
  for (auto& client : app.clients) {
    if (client->hasPendingOutput()) client->flush();
  }
  if (game.gameStarting) {
    if (!startRound(app, game)) return questionsUnreadable(app);
    broadcastQuestion(app, game);
    game.gameStarting = false;
  }
  for (size_t j = 0; j < app.clients.size(); ++j) {
    ClientConnection& client = *app.clients[j];
    if (client.answered()) continue;
    if (!client.pollAnswer()) {
      // Dropped with its results; the client moving into place j waits for
      // the next call.
      --game.pendingAnswers;
      app.clients.erase(app.clients.begin() + static_cast<std::ptrdiff_t>(j));
      app.players.erase(app.players.begin() + static_cast<std::ptrdiff_t>(j));
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
  if (game.pendingAnswers != 0) return true;

  // Every player's block is the same for every client, so each message is
  // built once and handed to each client whole: the bytes are those of the
  // block-by-block sends, in far fewer calls.
  std::string results;
  for (const PlayerRecord& player : app.players) {
    if (!player.rounds.empty() && !player.rounds.back().empty()) results += resultLineBlock(player);
  }
  results += blankLine();
  if (game.questionIndex >= app.questionsPerRound) {
    for (const PlayerRecord& player : app.players) {
      results += roundSummaryBlock(player, roundTotals(player));
    }
    results += blankLine();
    sendToAll(app, results);
    if (!startRound(app, game)) return questionsUnreadable(app);
    game.questionIndex = 0;
  } else {
    sendToAll(app, results);
  }
  broadcastQuestion(app, game);
  return true;
}

bool gameTick() {
  static GameState game;
  ServerAppRef app;
  return gameTick(*app, game);
}

}  // namespace qova
