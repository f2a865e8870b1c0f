// The game: one turn at a time. The message loop calls gameWaitTurn whenever
// no window message waits: it waits until a socket the game needs is ready
// (an awaited answer's, or one with bytes queued that can take more), a
// message comes or the answer deadline falls due, and then takes one turn
// that reads the awaited answers that have arrived and, once none is
// awaited, sends the results, the round summary at the end of a round, and
// the next question. gameTick is the same turn without waiting.
//
// The operator paces the game with a hold: while one is in force the
// question out (if any) finishes as written, its answers or deadline, its
// results and a round's summary, and then the next question waits for Go On.
// Held with no question out, nothing falls due: the wait has no timeout of
// its own and asks about no player's socket for reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/random.h"
#include "net/socket_wait.h"
#include "qdb/question_record.h"
#include "server/server_app.h"

namespace qova {

// How long past the time limit an answer may still come: the longest pause
// a player program makes before it shows a question (results 3 s, then a
// round's leaderboard 6 s), with room for a slow network.
constexpr double kDeadlineGraceSeconds = 15;

struct GameState {
  bool gameStarting = true;
  std::vector<ServerQuestionRecord> roundQuestions;
  int32_t questionIndex = 0;    // questions of this round already sent
  int32_t pendingAnswers = 0;   // clients whose answer is still awaited
  uint32_t questionSentAt = 0;  // tick when the current question went out
  uint32_t deadlineMs = 0;      // answers not in by then are recorded; 0: none
  // From broadcastQuestion until the turn that sends that question's results.
  bool questionOut = false;
  bool held = false;            // a hold is in force: the next question waits for goOn
  bool holdAfterRound = false;  // the game holds by itself after each round's summary
  // What the last wait asked of each client's socket (in the order of
  // clients) and what it found; a turn touches only the sockets found ready.
  std::vector<PollEntry> sockets;
};

// Milliseconds after a question goes out at which an answer not yet in is
// recorded: the limit plus kDeadlineGraceSeconds, rounded up, for a positive
// limit (at most 0x7FFFFFFF, some 24 days); 0, no deadline, otherwise.
uint32_t answerDeadlineMs(double limitSeconds);

// `n` distinct record numbers in 1..recordCount, in the order drawn, each
// 1 + r mod recordCount. Up to 32768 records r is one value of the
// generator; above, r joins two values (three above 2^30) so that every
// record can be drawn. Requires 0 <= n <= recordCount.
std::vector<int32_t> drawRecordNumbers(int32_t n, int32_t recordCount,
                                       RandomGenerator& random = processRandom());

// Draws and fetches the round, then appends an empty round to every player.
// False when the database cannot be read: no round is begun.
bool startRound(ServerApp& app, GameState& game);
// Sends the next question to every client and awaits every answer; the
// deadline runs from now. The question is out until its results go.
void broadcastQuestion(ServerApp& app, GameState& game);

// One turn. False when no client is left: errorText "All clients have
// dropped.", errorFlags kDroppedErrorFlags, exitCode 0, for reportError. False too when a
// round's questions cannot be read from the database: "Error loading
// questions.", reported as a start-up failure is (kStartupErrorFlags, exit code 1).
// At the deadline every answer still awaited is recorded as Wrong with the
// limit as its time (timeoutTimeText); the player stays and owes that answer.
bool gameTick(ServerApp& app, GameState& game);
// The turn of the process's game, on the process's ServerApp.
bool gameTick();

// Milliseconds until the game has something to do without any socket: 0
// when the next question is to go (the first turn, or after Go On), when no
// answer is awaited (the operator ended the question or removed the last one
// awaited) or a player is to be dropped; until the answer deadline
// otherwise; -1 when nothing falls due (held with no question out, too).
int gameDueMs(const ServerApp& app, const GameState& game);

// Waits for the next turn: asks `wait` about every client's socket (readable
// while its answer is awaited, writable while it has bytes queued) for at
// most gameDueMs, or `limitMs` when that is sooner (negative: no limit).
// kMessage and kWoken: the caller handles what came, no turn is due.
WaitOutcome gameWait(ServerApp& app, GameState& game, SocketWait& wait, int limitMs = -1);
// The turn of gameTick over what the last gameWait found ready.
bool gameTurn(ServerApp& app, GameState& game);
// gameWait, then gameTurn unless a message or a wake ended the wait (then
// true, and *outcome tells which).
bool gameWaitTurn(ServerApp& app, GameState& game, SocketWait& wait, int limitMs = -1,
                  WaitOutcome* outcome = nullptr);
// The process's game, for the windows.
GameState& processGame();

// The operator ends the question: every answer still awaited is recorded as
// Wrong with the seconds since the question went out, two decimals, at most
// the time limit when there is one; each such player owes that answer. The
// next turn goes on as after a last answer. False when no question is out or
// nothing was awaited (nothing is done then).
bool endQuestion(ServerApp& app, GameState& game);

// Takes player `index` out of the lobby or the game as if its connection had
// closed: the connection is closed and its results go with it. In the game
// an awaited answer is no longer awaited, so the next turn sends the results
// when it was the last; with no player left the next turn ends the game.
// False when there is no such player.
bool removePlayer(ServerApp& app, GameState& game, size_t index);

// What the operator's Remove Player did.
enum class Removal {
  kRemoved,      // asked, Yes: the player is gone
  kDeclined,     // asked, No
  kNoneChosen,   // nobody chosen: the "Notice" `chooseFirst` was shown
  kListChanged,  // entry `index` no longer shows that player: a "Notice" said so
};

// The operator's Remove Player for entry `index` (-1: none) of a window's
// list of players, which shows `shownName` there: asks in a "Notice" box
// with Yes and No, naming the player, and on Yes removes it (removePlayer).
// The boxes go through app.shell.prompts, owned by `owner`.
Removal removeChosenPlayer(ServerApp& app, GameState& game, void* owner, int index,
                           const std::string& shownName, bool inGame, const char* chooseFirst);

// Hold: from now on no question goes out until goOn; a question that is out
// finishes as written first. Go On: the hold ends and, with no question out,
// the next turn sends the next question at once. setHoldAfterRound: whether
// the game holds by itself right after each round's summary. Each tells the
// room feed when a value changed (a HOLD line) and says whether it did.
bool holdGame(ServerApp& app, GameState& game);
bool goOn(ServerApp& app, GameState& game);
bool setHoldAfterRound(ServerApp& app, GameState& game, bool on);

// Held with no question out: the game waits for Go On.
bool waitingForGoOn(const GameState& game);

// The Statistics window's answers line: while a question is out "Answers: 2
// of 3" (answers in of players playing it); kHeldLine while the game waits
// for Go On; "" before the first question otherwise.
extern const char kHeldLine[];  // "Held: press Go On for the next question."
std::string answersLine(const ServerApp& app, const GameState& game);

}  // namespace qova
