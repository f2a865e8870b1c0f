#include "server/results.h"

#include "common/durable_file.h"
#include "common/number_format.h"

namespace qova {

namespace {

std::vector<std::string> countingTo(size_t n) {
  std::vector<std::string> entries;
  entries.reserve(n);
  for (size_t i = 1; i <= n; ++i) entries.push_back(std::to_string(i));
  return entries;
}

bool designates(int selection, size_t size) {
  return selection >= 0 && static_cast<size_t>(selection) < size;
}

std::string listLine(const std::string& first, const Response& response) {
  return first + "\t" + response.timeText + "\t" + (response.correct ? "Yes" : "No");
}

}  // namespace

PlayerFigures playerFigures(const PlayerRecord& player) {
  PlayerFigures figures;
  double sum = 0;
  for (const std::vector<Response>& round : player.rounds) {
    for (const Response& response : round) {
      sum += parseDecimal(response.timeText);
      if (response.correct) ++figures.right;
    }
    figures.answers += static_cast<int64_t>(round.size());
  }
  // Without any answer both figures would be 0 / 0: they are shown as 0.
  if (figures.answers > 0) {
    figures.averageTime = sum / static_cast<double>(figures.answers);
    figures.percentRight =
        static_cast<float>(static_cast<double>(figures.right) / figures.answers * 100.0);
  }
  return figures;
}

std::string endScoresText(const std::vector<PlayerRecord>& players) {
  std::string out;
  for (const PlayerRecord& player : players) {
    out += "Player: " + player.name + "\r\n";
    for (size_t r = 0; r < player.rounds.size(); ++r) {
      out += "  Round " + std::to_string(r + 1) + ":\r\n";
      const std::vector<Response>& round = player.rounds[r];
      for (size_t i = 0; i < round.size(); ++i) {
        out += "    " + std::to_string(i + 1) + ". " + round[i].timeText + " seconds;\t" +
               (round[i].correct ? "Right" : "Wrong") + "\r\n";
      }
    }
    const PlayerFigures figures = playerFigures(player);
    out += "\r\n  Average time: " + formatGeneral(figures.averageTime, 3) + " seconds\r\n";
    out += "  Percent correct: " + formatGeneral(figures.percentRight, 3) + "%\r\n\r\n";
  }
  return out;
}

void writeEndScores(const std::vector<PlayerRecord>& players, const std::string& fileName) {
  replaceFile(fileName, endScoresText(players));
}

ViewLabels viewLabels(int32_t viewMode) {
  if (viewMode == kViewByPlayer) return {"Question", "Player", "Round"};
  return {"Player", "Round", "Question"};
}

std::vector<std::string> firstComboEntries(const std::vector<PlayerRecord>& players,
                                           int32_t viewMode) {
  std::vector<std::string> entries;
  if (viewMode == kViewByPlayer) {
    for (const PlayerRecord& player : players) entries.push_back(player.name);
    return entries;
  }
  // Every player holds the same number of rounds: one per round started.
  return players.empty() ? entries : countingTo(players.front().rounds.size());
}

std::vector<std::string> secondComboEntries(const std::vector<PlayerRecord>& players,
                                            int32_t viewMode, int first) {
  if (viewMode == kViewByPlayer) {
    if (!designates(first, players.size())) return {};
    return countingTo(players[first].rounds.size());
  }
  if (players.empty() || !designates(first, players.front().rounds.size())) return {};
  return countingTo(players.front().rounds[first].size());
}

std::vector<std::string> listLines(const std::vector<PlayerRecord>& players, int32_t viewMode,
                                   int first, int second) {
  std::vector<std::string> lines;
  if (viewMode == kViewByPlayer) {
    if (!designates(first, players.size())) return lines;
    const PlayerRecord& player = players[first];
    if (!designates(second, player.rounds.size())) return lines;
    const std::vector<Response>& round = player.rounds[second];
    for (size_t i = 0; i < round.size(); ++i)
      lines.push_back(listLine(std::to_string(i + 1), round[i]));
    return lines;
  }
  if (first < 0 || second < 0) return lines;
  for (const PlayerRecord& player : players) {
    if (!designates(first, player.rounds.size())) continue;
    const std::vector<Response>& round = player.rounds[first];
    if (designates(second, round.size())) lines.push_back(listLine(player.name, round[second]));
  }
  return lines;
}

}  // namespace qova
