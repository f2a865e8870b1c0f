// Figures for the results saved after every round (not a test): a made-up
// game of 2,048 players and 100 questions (10 rounds of 10), saved as the
// server saves it after a round's summary (the mark and the four files, each
// through a flushed temporary file and a rename), set beside the players'
// leaderboard pause, during which that save must be done. Also how long each
// file takes to build and how large it is.
//
//   results_bench [PLAYERS ROUNDS PER_ROUND]
//   results_bench --report FILE PLAYERS ROUNDS PER_ROUND
//       writes only the report of such a game to FILE (for the browser test)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/durable_file.h"
#include "server/results.h"
#include "server/results_csv.h"
#include "server/results_report.h"
#include "server/results_save.h"
#include "testing/made_up_game.h"
#include "testing/test_support.h"
#include "wire/play_rules.h"

namespace qova {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

DateTime benchClock() { return DateTime{2026, 12, 10, 21, 3, 0}; }

int run(int players, int rounds, int perRound) {
  testing::MadeUpGame game = testing::madeUpGame(players, rounds, perRound);
  std::printf("results of %d players, %d rounds of %d questions (%d answers)\n", players, rounds,
              perRound, players * rounds * perRound);

  struct Part {
    const char* name;
    std::string (*build)(const testing::MadeUpGame&);
  };
  const Part parts[] = {
      {"endscores.txt", [](const testing::MadeUpGame& g) { return endScoresText(g.players); }},
      {"endscores.csv", [](const testing::MadeUpGame& g) { return endScoresCsv(g.players); }},
      {"answers.csv",
       [](const testing::MadeUpGame& g) { return answersCsv(g.players, g.askedRounds); }},
      {"endscores.html",
       [](const testing::MadeUpGame& g) {
         return resultsReportHtml(g.players, g.askedRounds, benchClock());
       }},
  };
  for (const Part& part : parts) {
    Clock::time_point start = Clock::now();
    const std::string bytes = part.build(game);
    std::printf("  %-15s built in %7.1f ms, %9zu bytes (%.2f MB)\n", part.name, msSince(start),
                bytes.size(), bytes.size() / 1e6);
  }

  testing::TempDir dir;
  ServerApp app;
  app.resultsFileName = dir.file("endscores.txt");
  app.logFileName = dir.file("errLog.txt");
  app.results.clock = benchClock;
  app.players = game.players;
  app.askedRounds = game.askedRounds;
  // The save after a round's summary: the round just begun is the last.
  app.askedRounds.emplace_back();
  for (PlayerRecord& player : app.players) player.rounds.emplace_back();
  double worst = 0, total = 0;
  const int kRuns = 5;
  for (int i = 0; i < kRuns; ++i) {
    Clock::time_point start = Clock::now();
    saveRoundResults(app);
    const double ms = msSince(start);
    worst = ms > worst ? ms : worst;
    total += ms;
  }
  const bool logged = testing::fileExists(app.logFileName);
  std::printf(
      "  save after a round (mark + 4 files, flushed, renamed): mean %.1f ms, worst %.1f ms"
      " of %d\n",
      total / kRuns, worst, kRuns);
  std::printf("  the players' leaderboard pause: %lld ms; worst save is %.1f%% of it%s\n",
              static_cast<long long>(kLeaderboardPauseMs), 100.0 * worst / kLeaderboardPauseMs,
              logged ? " (A SAVE FAILED: see the run log)" : "");
  return worst < kLeaderboardPauseMs && !logged ? 0 : 1;
}

}  // namespace
}  // namespace qova

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--report") == 0) {
    qova::testing::MadeUpGame game =
        qova::testing::madeUpGame(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    return qova::replaceFile(
               argv[2], qova::resultsReportHtml(game.players, game.askedRounds, qova::benchClock()))
               ? 0
               : 1;
  }
  if (argc == 4) return qova::run(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]));
  return qova::run(2048, 10, 10);
}
