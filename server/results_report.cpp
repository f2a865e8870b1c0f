#include "server/results_report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/number_format.h"
#include "server/results.h"
#include "server/results_csv.h"
#include "wire/server_side.h"
#include "wire/standings.h"
#include "wire/wire.h"

namespace qova {

namespace {

// The page's whole look. Colour is never the only mark: every answer also
// carries a symbol and a word, every bar its percentage.
const char kStyle[] = R"(<style>
:root{--ink:#1d2430;--muted:#5b6472;--line:#d7dce3;--right:#1b7a3d;--rightbg:#e3f4e8;--wrong:#b3261e;--wrongbg:#fbe7e5;--none:#6b7280;--nonebg:#f1f2f4;--bar:#2f6fb3;--barbg:#e4ebf3}
*{box-sizing:border-box}
body{margin:0;padding:24px 32px;font:15px/1.45 "Segoe UI",Tahoma,Arial,sans-serif;color:var(--ink);background:#fff}
h1{font-size:26px;margin:0 0 4px}
h2{font-size:20px;margin:32px 0 10px;padding-bottom:4px;border-bottom:2px solid var(--line)}
h3{font-size:16px;margin:20px 0 6px}
.meta{color:var(--muted);margin:0 0 8px}
.facts{display:flex;flex-wrap:wrap;gap:12px;margin:12px 0 0;padding:0;list-style:none}
.facts li{border:1px solid var(--line);border-radius:6px;padding:6px 14px}
.facts b{font-size:20px;display:block}
.podium{display:flex;align-items:flex-end;gap:12px;margin:8px 0 0}
.step{width:200px;text-align:center}
.step .who{font-weight:600;overflow-wrap:anywhere;margin-bottom:4px}
.step .who span{display:block;font-weight:400;color:var(--muted);font-size:13px}
.step svg{display:block;width:100%}
.step rect{fill:#c9d6e6}.step.p1 rect{fill:#e8c95a}.step.p2 rect{fill:#c3c9d1}.step.p3 rect{fill:#d6a57a}
.step text{font:bold 28px sans-serif;fill:#1d2430}
table{border-collapse:collapse}
th,td{text-align:left;padding:3px 8px;border-bottom:1px solid var(--line);vertical-align:top}
thead th{background:#f5f7fa;position:sticky;top:0}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
.name{overflow-wrap:anywhere;max-width:28em}
.q td.text{max-width:34em;overflow-wrap:anywhere}
.q td.answer{max-width:16em;overflow-wrap:anywhere}
.pct{white-space:nowrap}
.pct svg{width:120px;height:12px;vertical-align:middle;margin-right:6px}
.pct .bg{fill:var(--barbg)}.pct .fg{fill:var(--bar)}
section.round{content-visibility:auto;contain-intrinsic-size:auto 2000px}
.grid td,.grid th{padding:2px 6px;font-size:13px}
.grid td.r{background:var(--rightbg);color:var(--right)}
.grid td.w{background:var(--wrongbg);color:var(--wrong)}
.grid td.x{background:var(--nonebg);color:var(--none)}
.grid td{white-space:nowrap}
.grid th.name{min-width:10em;overflow-wrap:break-word}
.key{color:var(--muted);font-size:13px}
@page{size:A4;margin:12mm}
@media print{
body{padding:0;font-size:10pt}
h2{break-after:avoid}
tr,.podium{break-inside:avoid}
thead th{position:static}
section.round{content-visibility:visible}
.grid td,.grid th{font-size:7pt;padding:1px 2px}
.grid th.name{min-width:8em}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
}
</style>)";

struct Standing {
  size_t player = 0;  // index in players
  int place = 0;
  int right = 0;
  int answers = 0;
  float percent = 0;
  float average = 0;  // NaN without answers
};

struct Asking {
  size_t round = 0;   // from 0
  size_t number = 0;  // from 0, within the round
  int right = 0;
  int answers = 0;
  double average = 0;
};

std::string number(double value, int digits) { return formatGeneral(value, digits); }

// Seconds with 3 significant digits, as the results file has them; the
// standings use 4, as the leaderboard does, so that two rows that look the
// same also share their place.
std::string seconds(double value, int digits = 3) {
  return std::isfinite(value) ? number(value, digits) + " s" : "&ndash;";
}

// Standings in the players' leaderboard order with its places.
std::vector<Standing> standings(const std::vector<PlayerRecord>& players) {
  std::vector<SummaryEntry> summary;
  summary.reserve(players.size());
  std::vector<RoundTotals> totals;
  totals.reserve(players.size());
  for (size_t i = 0; i < players.size(); ++i) {
    const RoundTotals t = roundTotals(players[i]);
    totals.push_back(t);
    SummaryEntry entry;
    // The index stands in for the name, so that rows of one name stay apart.
    entry.name = std::to_string(i);
    entry.totalCorrect = t.totalCorrect;
    entry.totalAverage = averageText(t.totalAverage);
    entry.totalAnswers = t.totalAnswers;
    summary.push_back(entry);
  }
  const std::vector<SummaryEntry> order = leaderboard(summary);
  const std::vector<int> places = leaderboardPlaces(order);
  std::vector<Standing> rows;
  rows.reserve(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    Standing row;
    row.player = static_cast<size_t>(std::stoul(order[k].name));
    row.place = places[k];
    const RoundTotals& t = totals[row.player];
    row.right = t.totalCorrect;
    row.answers = t.totalAnswers;
    row.average = t.totalAverage;
    row.percent = playerFigures(players[row.player]).percentRight;
    rows.push_back(row);
  }
  return rows;
}

// Every question that got an answer, with its figures, in the order asked.
std::vector<Asking> askings(const std::vector<PlayerRecord>& players,
                            const std::vector<std::vector<AskedQuestion>>& askedRounds) {
  std::vector<Asking> all;
  for (size_t r = 0; r < askedRounds.size(); ++r) {
    for (size_t i = 0; i < askedRounds[r].size(); ++i) {
      Asking a;
      a.round = r;
      a.number = i;
      double sum = 0;
      for (const PlayerRecord& player : players) {
        if (r >= player.rounds.size() || i >= player.rounds[r].size()) continue;
        const Response& response = player.rounds[r][i];
        ++a.answers;
        if (response.correct) ++a.right;
        sum += parseDecimal(response.timeText);
      }
      if (a.answers == 0) continue;  // drawn for the round, not answered yet
      a.average = sum / a.answers;
      all.push_back(a);
    }
  }
  return all;
}

void bar(std::string& out, double percent) {
  const double width = std::clamp(percent, 0.0, 100.0);
  out +=
      "<svg viewBox=\"0 0 100 10\" preserveAspectRatio=\"none\" aria-hidden=\"true\">"
      "<rect class=\"bg\" width=\"100\" height=\"10\"/><rect class=\"fg\" width=\"";
  out += number(width, 3);
  out += "\" height=\"10\"/></svg>";
}

void podium(std::string& out, const std::vector<PlayerRecord>& players,
            const std::vector<Standing>& rows) {
  // Up to three steps: the first three places that are taken. Shown in the
  // podium's order, second place left of the first.
  std::vector<std::vector<const Standing*>> steps;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].answers == 0) break;  // nobody who has not played stands on it
    if (k == 0 || rows[k - 1].place != rows[k].place) {
      if (steps.size() == 3) break;
      steps.emplace_back();
    }
    steps.back().push_back(&rows[k]);
  }
  if (steps.empty()) return;
  static const int kHeights[3] = {120, 90, 66};
  static const size_t kShown[3] = {1, 0, 2};
  out += "<h2>Podium</h2>\n<div class=\"podium\">";
  for (size_t s : kShown) {
    if (s >= steps.size()) continue;
    const int place = steps[s].front()->place;
    out += "<div class=\"step p" + std::to_string(s + 1) + "\"><div class=\"who\">";
    const size_t shown = std::min<size_t>(steps[s].size(), 5);
    for (size_t k = 0; k < shown; ++k) {
      if (k > 0) out += "<br>";
      out += htmlText(players[steps[s][k]->player].name);
    }
    if (steps[s].size() > shown) {
      out += "<br>and " + std::to_string(steps[s].size() - shown) + " more";
    }
    const Standing& first = *steps[s].front();
    out += "<span>" + std::to_string(first.right) + " right, " + seconds(first.average, 4) +
           " on average</span></div>";
    const int h = kHeights[s];
    out += "<svg viewBox=\"0 0 200 " + std::to_string(h) + "\" role=\"img\" aria-label=\"Place " +
           std::to_string(place) + "\"><rect width=\"200\" height=\"" + std::to_string(h) +
           "\" rx=\"4\"/><text x=\"100\" y=\"" + std::to_string(h / 2 + 10) +
           "\" text-anchor=\"middle\">" + std::to_string(place) + "</text></svg></div>";
  }
  out += "</div>\n";
}

void standingsTable(std::string& out, const std::vector<PlayerRecord>& players,
                    const std::vector<Standing>& rows) {
  out +=
      "<h2>Standings</h2>\n<table class=\"standings\"><thead><tr><th class=\"n\">Place</th>"
      "<th>Player</th><th class=\"n\">Right</th><th>Percent right</th>"
      "<th class=\"n\">Average time</th></tr></thead><tbody>\n";
  for (const Standing& row : rows) {
    out += "<tr><td class=\"n\">" + std::to_string(row.place) + "</td><td class=\"name\">" +
           htmlText(players[row.player].name) + "</td><td class=\"n\">" +
           std::to_string(row.right) + " of " + std::to_string(row.answers) +
           "</td><td class=\"pct\">";
    bar(out, row.percent);
    out += number(row.percent, 3) + "%</td><td class=\"n\">" + seconds(row.average, 4) +
           "</td></tr>\n";
  }
  out += "</tbody></table>\n";
}

std::string askingLabel(const Asking& a) {
  return "Round " + std::to_string(a.round + 1) + ", question " + std::to_string(a.number + 1);
}

void questionsTable(std::string& out, const std::vector<std::vector<AskedQuestion>>& askedRounds,
                    std::vector<Asking> all) {
  // Hardest first: fewest right, then the slowest, then as asked.
  std::stable_sort(all.begin(), all.end(), [](const Asking& a, const Asking& b) {
    if (a.right != b.right) return a.right < b.right;
    return a.average > b.average;
  });
  out +=
      "<h2>Questions, hardest first</h2>\n<table class=\"q\"><thead><tr><th>Asked</th>"
      "<th>Question</th><th>Correct response</th><th>Right</th>"
      "<th class=\"n\">Average time</th></tr></thead><tbody>\n";
  for (const Asking& a : all) {
    const AskedQuestion& q = askedRounds[a.round][a.number];
    const double percent = 100.0 * a.right / a.answers;
    out += "<tr><td>" + askingLabel(a) + "</td><td class=\"text\">" + htmlText(q.question) +
           "</td><td class=\"answer\">" +
           (q.correctResponse.empty() ? std::string("(none)") : htmlText(q.correctResponse)) +
           "</td><td class=\"pct\">";
    bar(out, percent);
    out += number(percent, 3) + "% (" + std::to_string(a.right) + " of " +
           std::to_string(a.answers) + ")</td><td class=\"n\">" + seconds(a.average) +
           "</td></tr>\n";
  }
  out += "</tbody></table>\n";
}

void answersGrid(std::string& out, const std::vector<PlayerRecord>& players,
                 const std::vector<Standing>& rows, const std::vector<Asking>& all) {
  out +=
      "<h2>Every answer</h2>\n<p class=\"key\">\u2713 right, \u2717 wrong, &ndash; no "
      "answer; each with the player's time in seconds. Players in the order of the "
      "standings.</p>\n";
  size_t k = 0;
  while (k < all.size()) {
    const size_t round = all[k].round;
    size_t end = k;
    while (end < all.size() && all[end].round == round) ++end;
    out += "<section class=\"round\"><h3>Round " + std::to_string(round + 1) +
           "</h3>\n<table class=\"grid\"><thead><tr><th>Player</th>";
    for (size_t c = k; c < end; ++c) out += "<th>Q" + std::to_string(all[c].number + 1) + "</th>";
    out += "</tr></thead><tbody>\n";
    for (const Standing& row : rows) {
      const PlayerRecord& player = players[row.player];
      out += "<tr><th class=\"name\">" + htmlText(player.name) + "</th>";
      for (size_t c = k; c < end; ++c) {
        const size_t q = all[c].number;
        if (round >= player.rounds.size() || q >= player.rounds[round].size()) {
          out += "<td class=x>&ndash; none</td>";
          continue;
        }
        const Response& response = player.rounds[round][q];
        // The marks as UTF-8 rather than references: a tenth of the grid's bytes.
        out += response.correct ? "<td class=r>\u2713 right " : "<td class=w>\u2717 wrong ";
        out += htmlText(response.timeText) + "</td>";
      }
      out += "</tr>\n";
    }
    out += "</tbody></table></section>\n";
    k = end;
  }
}

}  // namespace

std::string htmlText(const std::string& cp1252) {
  const std::string units = cp1252ToUtf16le(cp1252);
  std::string out;
  out.reserve(cp1252.size());
  for (size_t i = 0; i + 1 < units.size(); i += 2) {
    const uint32_t c = static_cast<unsigned char>(units[i]) |
                       static_cast<uint32_t>(static_cast<unsigned char>(units[i + 1])) << 8;
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      // Control characters have no place in a name; shown as a space.
      out += ' ';
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string resultsReportHtml(const std::vector<PlayerRecord>& players,
                              const std::vector<std::vector<AskedQuestion>>& askedRounds,
                              const DateTime& written) {
  const std::vector<Standing> rows = standings(players);
  const std::vector<Asking> all = askings(players, askedRounds);
  size_t rounds = 0;
  for (const Asking& a : all) rounds = std::max(rounds, a.round + 1);
  const std::string when = dateTimeText(written);

  std::string out;
  // Roughly what the grid takes, so that the text grows without copies.
  out.reserve(8192 + players.size() * (all.size() * 34 + 200) + all.size() * 400);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Quiz results " +
      when + "</title>\n";
  out += kStyle;
  out += "\n</head>\n<body>\n<h1>Quiz results</h1>\n<p class=\"meta\">Written " + when +
         "</p>\n<ul class=\"facts\"><li><b>" + std::to_string(players.size()) +
         "</b>players</li><li><b>" + std::to_string(rounds) + "</b>rounds</li><li><b>" +
         std::to_string(all.size()) + "</b>questions</li></ul>\n";
  if (players.empty()) {
    out += "<p>No players.</p>\n";
  } else {
    podium(out, players, rows);
    standingsTable(out, players, rows);
  }
  if (!all.empty()) {
    questionsTable(out, askedRounds, all);
    answersGrid(out, players, rows, all);
  }
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace qova
