#include "server/results_csv.h"

#include <cstdint>
#include <filesystem>

#include "common/durable_file.h"
#include "common/number_format.h"
#include "server/results.h"

namespace qova {

const char kEndScoresCsvName[] = "endscores.csv";
const char kAnswersCsvName[] = "answers.csv";

namespace {

namespace fs = std::filesystem;

// Code points of the bytes 0x80..0x9F; 0 where the code page has none.
constexpr uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

using Row = std::vector<std::string>;

// A text field: quoted, quotes doubled, and a leading apostrophe before a
// first character that a spreadsheet would read as the start of a formula.
std::string text(const std::string& value) {
  std::string field = "\"";
  if (!value.empty() && std::string("=+-@\t\r").find(value[0]) != std::string::npos) {
    field += '\'';
  }
  for (char c : value) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + '"';
}

// One row: the fields joined by tabs, then CR LF. Texts come quoted from
// text(); the numbers the server computes go in bare, so that they are
// numbers to the spreadsheet.
void addRow(std::string& table, const Row& row) {
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) table += '\t';
    table += row[i];
  }
  table += "\r\n";
}

std::string spreadsheetBytes(const std::string& table) {
  return "\xFF\xFE" + cp1252ToUtf16le(table);
}

}  // namespace

std::string cp1252ToUtf16le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    uint16_t unit = byte;
    if (byte >= 0x80 && byte < 0xA0) unit = kHigh[byte - 0x80] != 0 ? kHigh[byte - 0x80] : 0xFFFD;
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string endScoresCsv(const std::vector<PlayerRecord>& players) {
  std::string table;
  addRow(table, {text("Player"), text("Answers"), text("Right"), text("Percent right"),
                 text("Average time (seconds)")});
  for (const PlayerRecord& player : players) {
    const PlayerFigures figures = playerFigures(player);
    addRow(table,
           {text(player.name), std::to_string(figures.answers), std::to_string(figures.right),
            formatGeneral(figures.percentRight, 3), formatGeneral(figures.averageTime, 3)});
  }
  return spreadsheetBytes(table);
}

std::string answersCsv(const std::vector<PlayerRecord>& players,
                       const std::vector<std::vector<AskedQuestion>>& askedRounds) {
  std::string table;
  addRow(table, {text("Player"), text("Round"), text("Question"), text("Record"),
                 text("Question text"), text("Time (seconds)"), text("Result")});
  for (const PlayerRecord& player : players) {
    for (size_t r = 0; r < player.rounds.size(); ++r) {
      const std::vector<Response>& round = player.rounds[r];
      for (size_t i = 0; i < round.size(); ++i) {
        const bool known = r < askedRounds.size() && i < askedRounds[r].size();
        addRow(table, {text(player.name), std::to_string(r + 1), std::to_string(i + 1),
                       known ? std::to_string(askedRounds[r][i].recordNumber) : "",
                       text(known ? askedRounds[r][i].question : ""), text(round[i].timeText),
                       text(round[i].correct ? "Right" : "Wrong")});
      }
    }
  }
  return spreadsheetBytes(table);
}

bool writeResultsCsv(const std::vector<PlayerRecord>& players,
                     const std::vector<std::vector<AskedQuestion>>& askedRounds,
                     const std::string& resultsFileName) {
  const fs::path folder = fs::path(resultsFileName).parent_path();
  bool scoresOk = replaceFile((folder / kEndScoresCsvName).string(), endScoresCsv(players));
  bool answersOk =
      replaceFile((folder / kAnswersCsvName).string(), answersCsv(players, askedRounds));
  return scoresOk && answersOk;
}

}  // namespace qova
