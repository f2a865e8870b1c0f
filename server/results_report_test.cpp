#include "server/results_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qova {
namespace {

std::vector<Response> answers(std::initializer_list<const char*> list) {
  // "4r" is 4 seconds, right; "6w" 6 seconds, wrong.
  std::vector<Response> round;
  for (const char* a : list) {
    std::string text(a);
    round.push_back(Response{text.substr(0, text.size() - 1), text.back() == 'r'});
  }
  return round;
}

const char kImg[] = "\"><img src=x onerror=alert(1)>";
const char kScript[] = "<script>alert(1)</script>";

// Five players, two rounds of two questions; the last player joined round 1
// late in its question 2 (it has no answer there).
struct FixedGame {
  std::vector<PlayerRecord> players = {
      {kImg, {answers({"2r", "3r"}), answers({"1r", "8r"})}},
      {"Ann", {answers({"4r", "6w"}), answers({"1r", "8w"})}},
      {"Bob", {answers({"6r", "4w"}), answers({"1r", "8w"})}},
      {kScript, {answers({"1w", "1w"}), answers({"9w", "8r"})}},
      {"&amp;", {answers({"7w"}), answers({"2r", "8r"})}},
  };
  std::vector<std::vector<AskedQuestion>> asked = {
      {{4, "2 + 2 = ?", "4"}, {9, "Capital of <France>?", "Paris & \"co\""}},
      {{1, "Zo\xEB's \x80?", "\x80 5"}, {2, "Last one", ""}},
  };
  std::string page = resultsReportHtml(players, asked, DateTime{2026, 12, 10, 21, 3, 0});

  std::string section(const std::string& heading) const {
    size_t start = page.find("<h2>" + heading + "</h2>");
    size_t end = page.find("<h2>", start + 1);
    return start == std::string::npos ? "" : page.substr(start, end - start);
  }
};

// Whether every text of `parts` appears in `text`, in this order.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const std::string& part : parts) {
    size_t found = text.find(part, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "missing or out of order: " << part;
    at = found + part.size();
  }
  return ::testing::AssertionSuccess();
}

std::string standingRow(int place, const std::string& name, const std::string& right,
                        const std::string& percent, const std::string& average) {
  return "<td class=\"n\">" + std::to_string(place) + "</td><td class=\"name\">" + name +
         "</td><td class=\"n\">" + right + "</td><td class=\"pct\">" +
         "<svg viewBox=\"0 0 100 10\" preserveAspectRatio=\"none\" aria-hidden=\"true\">"
         "<rect class=\"bg\" width=\"100\" height=\"10\"/><rect class=\"fg\" width=\"" +
         percent + "\" height=\"10\"/></svg>" + percent + "%</td><td class=\"n\">" + average +
         "</td>";
}

const char kImgText[] = "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;";
const char kScriptText[] = "&lt;script&gt;alert(1)&lt;/script&gt;";

TEST(ResultsReport, HeadAndFactsOfTheGame) {
  FixedGame g;
  EXPECT_EQ(
      g.page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
  EXPECT_NE(g.page.find("<p class=\"meta\">Written 2026-12-10 21:03</p>"), std::string::npos);
  EXPECT_TRUE(inOrder(g.page, {"<b>5</b>players", "<b>2</b>rounds", "<b>4</b>questions"}));
}

TEST(ResultsReport, StandingsPlaceTiesAsTheLeaderboardDoes) {
  FixedGame g;
  const std::string standings = g.section("Standings");
  EXPECT_TRUE(inOrder(standings, {standingRow(1, kImgText, "4 of 4", "100", "3.5 s"),
                                  standingRow(2, "Ann", "2 of 4", "50", "4.75 s"),
                                  standingRow(2, "Bob", "2 of 4", "50", "4.75 s"),
                                  standingRow(4, "&amp;amp;", "2 of 3", "66.7", "5.667 s"),
                                  standingRow(5, kScriptText, "1 of 4", "25", "4.75 s")}));
  // The podium: first in the middle, the two who share second together.
  const std::string podium = g.section("Podium");
  EXPECT_TRUE(inOrder(podium, {"class=\"step p2\"><div class=\"who\">Ann<br>Bob<span>2 right",
                               "class=\"step p1\"><div class=\"who\">" + std::string(kImgText),
                               "class=\"step p3\"><div class=\"who\">&amp;amp;<span>"}));
}

TEST(ResultsReport, QuestionsHardestFirstWithTheirFigures) {
  FixedGame g;
  const std::string questions = g.section("Questions, hardest first");
  // Fewest right first; of two with three right, the slower first.
  EXPECT_TRUE(inOrder(questions,
                      {"<td>Round 1, question 2</td><td class=\"text\">Capital of &lt;France&gt;?"
                       "</td><td class=\"answer\">Paris &amp; &quot;co&quot;</td>",
                       "25% (1 of 4)</td><td class=\"n\">3.5 s</td>",
                       "<td>Round 2, question 2</td><td class=\"text\">Last one</td>"
                       "<td class=\"answer\">(none)</td>",
                       "60% (3 of 5)</td><td class=\"n\">8 s</td>",
                       "<td>Round 1, question 1</td><td class=\"text\">2 + 2 = ?</td>",
                       "60% (3 of 5)</td><td class=\"n\">4 s</td>",
                       "<td>Round 2, question 1</td><td class=\"text\">Zo\xC3\xAB&#39;s "
                       "\xE2\x82\xAC?</td><td class=\"answer\">\xE2\x82\xAC 5</td>",
                       "80% (4 of 5)</td><td class=\"n\">2.8 s</td>"}));
}

TEST(ResultsReport, GridMarksEveryAnswerWithSymbolWordAndTime) {
  FixedGame g;
  const std::string grid = g.section("Every answer");
  EXPECT_TRUE(inOrder(
      grid, {"<h3>Round 1</h3>", "<tr><th>Player</th><th>Q1</th><th>Q2</th></tr>",
             std::string("<tr><th class=\"name\">") + kImgText +
                 "</th><td class=r>\xE2\x9C\x93 right 2</td><td class=r>\xE2\x9C\x93 right 3</td>",
             "<tr><th class=\"name\">Ann</th><td class=r>\xE2\x9C\x93 right 4</td>"
             "<td class=w>\xE2\x9C\x97 wrong 6</td></tr>",
             "<tr><th class=\"name\">&amp;amp;</th><td class=w>\xE2\x9C\x97 wrong 7</td>"
             "<td class=x>&ndash; none</td></tr>",
             "<h3>Round 2</h3>",
             std::string("<tr><th class=\"name\">") + kScriptText +
                 "</th><td class=w>\xE2\x9C\x97 wrong 9</td><td class=r>\xE2\x9C\x93 right "
                 "8</td></tr>"}));
}

TEST(ResultsReport, NoTextAddsMarkupAndNothingIsFetched) {
  FixedGame g;
  for (const char* absent : {"<script", "<img", "<link", "<iframe", "url(", "@import",
                             "http:", "https:", "<France>", "src=\"", "\"co\""}) {
    EXPECT_EQ(g.page.find(absent), std::string::npos) << absent;
  }
  size_t styles = 0;
  for (size_t at = g.page.find("<style"); at != std::string::npos;
       at = g.page.find("<style", at + 1))
    ++styles;
  EXPECT_EQ(styles, 1u);
}

TEST(ResultsReport, TextsBecomeEscapedUtf8) {
  struct Case {
    const char* cp1252;
    const char* html;
  };
  const Case cases[] = {
      {"Ann", "Ann"},           {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&#39;"},
      {"&amp;", "&amp;amp;"},   {"Zo\xEB \x80 \x9C", "Zo\xC3\xAB \xE2\x82\xAC \xC5\x93"},
      {"\x81", "\xEF\xBF\xBD"}, {"tab\there\r\n", "tab here  "},
  };
  for (const Case& c : cases) EXPECT_EQ(htmlText(c.cp1252), c.html) << c.cp1252;
}

TEST(ResultsReport, AGameWithoutPlayersOrAnswers) {
  const std::string page = resultsReportHtml({}, {}, DateTime{2026, 1, 2, 3, 4, 5});
  EXPECT_NE(page.find("Written 2026-01-02 03:04"), std::string::npos);
  EXPECT_NE(page.find("<p>No players.</p>"), std::string::npos);
  EXPECT_EQ(page.find("<h2>"), std::string::npos);
  // Drawn but not yet answered: not counted as asked.
  const std::string drawn =
      resultsReportHtml({{"Ann", {{}}}}, {{{1, "Q", "A"}}}, DateTime{2026, 1, 2, 3, 4, 5});
  EXPECT_NE(drawn.find("<b>0</b>questions"), std::string::npos);
  EXPECT_NE(drawn.find("<h2>Standings</h2>"), std::string::npos);
  EXPECT_EQ(drawn.find("<h2>Podium</h2>"), std::string::npos);
}

}  // namespace
}  // namespace qova
