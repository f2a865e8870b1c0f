// The seat's conversation with a scripted server and page: no sockets, the
// time given by the test.
#include "web/seat/seat.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace qova::web {
namespace {

using nlohmann::json;

const char kSettings30[] = "30\r\n2\r\n4\r\n";  // 30 s, 2 questions a round, 4 responses
// A question whose correct response is the second.
const char kQuestion[] = "Capital of France?\r\nLyon\r\nParis\r\nNice\r\nCaen\r\n2\r\n";

struct WebSeat : ::testing::Test {
  SharedRows rows;
  Seat seat{"0123456789abcdef0123456789abcdef", "Ann", &rows};
  SeatOutput out;

  SeatOutput& server(const std::string& bytes, int64_t now) {
    out = SeatOutput();
    seat.serverBytes(bytes.data(), bytes.size(), now, &out);
    return out;
  }
  SeatOutput& attach(int64_t now) {
    out = SeatOutput();
    seat.attach(now, &out);
    return out;
  }
  SeatOutput& answer(int64_t q, int choice, int64_t now, bool* fine = nullptr) {
    out = SeatOutput();
    bool ok = seat.answer(q, choice, now, &out);
    if (fine) *fine = ok;
    return out;
  }
  SeatOutput& tick(int64_t now) {
    out = SeatOutput();
    seat.tick(now, &out);
    return out;
  }
  // The page messages of the last step, parsed.
  std::vector<json> page() const {
    std::vector<json> list;
    for (const PageText& t : out.toPage) list.push_back(json::parse(t.str()));
    return list;
  }
  std::vector<std::string> types() const {
    std::vector<std::string> list;
    for (const json& j : page()) list.push_back(j["t"]);
    return list;
  }
  void seatInLobby(const std::string& settings = kSettings30) {
    attach(0);
    server(settings, 0);
  }
};

TEST_F(WebSeat, JoinGivesTheNameToTheServerAndTheWelcomeToThePage) {
  attach(0);
  EXPECT_TRUE(out.toPage.empty());  // nothing before the server's settings
  EXPECT_FALSE(seat.welcomed());
  server("30\r\n2", 5);
  EXPECT_TRUE(out.toServer.empty());
  server("\r\n4\r\n", 6);
  EXPECT_EQ(out.toServer, "Ann\r\n");
  ASSERT_EQ(out.toPage.size(), 2u);
  EXPECT_EQ(out.toPage[0].str(),
            "{\"t\":\"welcome\",\"token\":\"0123456789abcdef0123456789abcdef\",\"name\":\"Ann\","
            "\"settings\":{\"questionsPerRound\":2,\"responseCount\":4,\"timeLimitMs\":30000}}");
  EXPECT_EQ(out.toPage[1].str(), "{\"t\":\"lobby\"}");
  EXPECT_TRUE(seat.welcomed());
  EXPECT_EQ(seat.state(), SeatState::kLobby);
}

TEST_F(WebSeat, TimeLimitTextsThatAreNotPositiveNumbersMeanNoLimit) {
  struct Case {
    const char* text;
    int64_t ms;
  } cases[] = {{"30", 30000},
               {"2.5", 2500},
               {"0", 0},
               {"-4", 0},
               {"none", 0},
               {"", 0},
               {"1e12", kMaxTimeLimitMs},
               {"0.0001", 1}};
  for (const Case& c : cases) {
    SharedRows r;
    Seat s("t", "Ann", &r);
    SeatOutput o;
    s.attach(0, &o);
    std::string settings = std::string(c.text) + "\r\n2\r\n4\r\n";
    s.serverBytes(settings.data(), settings.size(), 0, &o);
    ASSERT_EQ(o.toPage.size(), 2u) << c.text;
    EXPECT_EQ(json::parse(o.toPage[0].str())["settings"]["timeLimitMs"], c.ms) << c.text;
  }
}

TEST_F(WebSeat, QuestionNeverCarriesTheCorrectResponseUntilAnswered) {
  seatInLobby();
  server(kQuestion, 1000);
  ASSERT_EQ(types(), std::vector<std::string>{"question"});
  json q = page()[0];
  EXPECT_EQ(q, json::parse("{\"t\":\"question\",\"q\":1,\"round\":1,\"number\":1,\"of\":2,"
                           "\"text\":\"Capital of France?\",\"responses\":[\"Lyon\",\"Paris\","
                           "\"Nice\",\"Caen\"],\"timeLimitMs\":30000,\"timeLeftMs\":30000}"));
  EXPECT_TRUE(out.toServer.empty());
  EXPECT_EQ(seat.deadline(), 31000);

  answer(1, 2, 5213);
  EXPECT_EQ(out.toServer, "4.21\r\nr");
  ASSERT_EQ(types(), std::vector<std::string>{"answered"});
  EXPECT_EQ(page()[0], json::parse("{\"t\":\"answered\",\"q\":1,\"choice\":2,\"correct\":2,"
                                   "\"right\":true,\"time\":\"4.21\",\"timedOut\":false}"));
  EXPECT_EQ(seat.deadline(), -1);
  // A second answer, or one for another question, changes nothing.
  answer(1, 3, 6000);
  EXPECT_TRUE(out.toServer.empty() && out.toPage.empty());
}

TEST_F(WebSeat, WrongChoiceAndAQuestionWithNoCorrectResponse) {
  seatInLobby();
  server(kQuestion, 0);
  answer(1, 3, 1000);
  EXPECT_EQ(out.toServer, "1.00\r\nw");
  EXPECT_EQ(page()[0]["right"], false);
  server("Ann\r\n1.00\r\nw\r\n\r\n", 1100);
  // The correct line may be empty: no response is right.
  server("Q?\r\na\r\nb\r\nc\r\nd\r\n\r\n", 5000);  // after the results' pause
  answer(2, 1, 5500);
  EXPECT_EQ(out.toServer, "0.50\r\nw");
  EXPECT_EQ(page()[0]["correct"], 0);
}

TEST_F(WebSeat, TimeOutAnswersWrongWithTheLimitAsTheTime) {
  seatInLobby();
  server(kQuestion, 1000);
  tick(30999);
  EXPECT_TRUE(out.toServer.empty());
  tick(31000);
  EXPECT_EQ(out.toServer, "30.00\r\nw");
  EXPECT_EQ(page()[0], json::parse("{\"t\":\"answered\",\"q\":1,\"choice\":0,\"correct\":2,"
                                   "\"right\":false,\"time\":\"30.00\",\"timedOut\":true}"));
  // The page's answer that crossed the time-out on the way is ignored.
  answer(1, 2, 31005);
  EXPECT_TRUE(out.toServer.empty());
}

// The server ended the question before this seat answered (its deadline,
// or its operator): the row it recorded goes back as the answer it still
// takes, and the seat plays on; the page's late choice is ignored.
TEST_F(WebSeat, ResultsBeforeTheAnswerSendTheRecordedRowAndPlayOn) {
  seatInLobby();
  server(kQuestion, 1000);
  server("Bo\r\n1\r\nr\r\nAnn\r\n12.34\r\nw\r\n\r\n", 13340);
  EXPECT_EQ(out.toServer, "12.34\r\nw");
  EXPECT_EQ(seat.state(), SeatState::kResults);
  EXPECT_FALSE(out.closeServer);
  answer(1, 2, 13400);
  EXPECT_TRUE(out.toServer.empty());
  server(kQuestion, 20000);
  tick(20000 + 3000);
  answer(2, 2, 24000);
  EXPECT_NE(out.toServer.find("\r\nr"), std::string::npos) << out.toServer;
}

TEST_F(WebSeat, AnAnswerArrivingAfterTheDeadlineBeforeTheTickTimesOut) {
  seatInLobby();
  server(kQuestion, 1000);
  answer(1, 2, 31500);
  EXPECT_EQ(out.toServer, "30.00\r\nw");
  EXPECT_EQ(page()[0]["timedOut"], true);
}

TEST_F(WebSeat, ResumeMidQuestionGetsTheTimeLeftAndTimesFromTheFirstShowing) {
  seatInLobby();
  server(kQuestion, 1000);
  seat.detach(2000);
  EXPECT_EQ(seat.deadline(), 31000);
  attach(12000);
  ASSERT_EQ(types(), (std::vector<std::string>{"welcome", "question"}));
  EXPECT_EQ(page()[1]["timeLeftMs"], 19000);
  answer(1, 2, 14000);
  EXPECT_EQ(out.toServer, "13.00\r\nr");
  // After the answer a resume shows the question and the answer given.
  seat.detach(15000);
  attach(16000);
  ASSERT_EQ(types(), (std::vector<std::string>{"welcome", "question", "answered"}));
  EXPECT_EQ(page()[2]["time"], "13.00");
}

TEST_F(WebSeat, APageThatWasAwayWhenTheQuestionCameIsTimedFromItsRelease) {
  // Staying away while the question is out, reading it elsewhere and coming
  // back gains nothing: the time counts from the release.
  seatInLobby();
  seat.detach(500);
  server(kQuestion, 1000);
  EXPECT_TRUE(out.toPage.empty());
  attach(5000);
  EXPECT_EQ(page()[1]["timeLeftMs"], 26000);
  answer(1, 1, 5000);
  EXPECT_EQ(out.toServer, "4.00\r\nw");
}

TEST_F(WebSeat, ASilentServerIsReportedOnceAndTheSeatKeepsWaiting) {
  SharedRows r;
  Seat quiet("t", "Bo", &r);
  SeatOutput o;
  quiet.attach(1000, &o);
  EXPECT_EQ(quiet.deadline(), 1000 + kServerSilentNoticeMs);
  quiet.tick(1000 + kServerSilentNoticeMs, &o);
  ASSERT_EQ(o.toPage.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(o.toPage[0].str())["t"], "waiting");
  EXPECT_EQ(quiet.deadline(), -1);
  EXPECT_EQ(quiet.state(), SeatState::kConnecting);
  // A page that comes back hears it again; the settings then seat it as ever.
  quiet.detach(40000);
  SeatOutput again;
  quiet.attach(41000, &again);
  ASSERT_EQ(again.toPage.size(), 1u);
  std::string s = "30\r\n2\r\n4\r\n";
  SeatOutput seated;
  quiet.serverBytes(s.data(), s.size(), 42000, &seated);
  EXPECT_EQ(quiet.state(), SeatState::kLobby);
  EXPECT_EQ(seated.toServer, "Bo\r\n");
}

TEST_F(WebSeat, AResultsMessageBeyondTheBoundEndsTheSeatWithAMessage) {
  SharedRows r(1000);
  Seat bounded("t", "Bo", &r);
  SeatOutput o;
  bounded.attach(0, &o);
  std::string s = std::string("30\r\n2\r\n4\r\n") + kQuestion;
  bounded.serverBytes(s.data(), s.size(), 0, &o);
  SeatOutput answered;
  bounded.answer(1, 1, 500, &answered);
  std::string entry = std::string(100, 'x') + "\r\n1.00\r\nw\r\n";
  SeatOutput ended;
  for (int i = 0; i < 20 && bounded.state() != SeatState::kEnded; ++i) {
    bounded.serverBytes(entry.data(), entry.size(), 600, &ended);
  }
  ASSERT_EQ(bounded.state(), SeatState::kEnded);
  EXPECT_TRUE(ended.closeServer);
  ASSERT_FALSE(ended.toPage.empty());
  EXPECT_EQ(nlohmann::json::parse(ended.toPage.back().str())["message"],
            "The quiz server sent a message larger than this gateway can hold.");
}

TEST_F(WebSeat, WithoutALimitAnAbsentPageHoldsTheRoomSixtySecondsAtMost) {
  seatInLobby("none\r\n2\r\n4\r\n");
  server(kQuestion, 1000);
  EXPECT_EQ(seat.deadline(), -1);  // a present player may think as long as they like
  EXPECT_EQ(page()[0]["timeLeftMs"], 0);
  seat.detach(20000);
  EXPECT_EQ(seat.deadline(), 80000);
  tick(80000);
  EXPECT_EQ(out.toServer, "79.00\r\nw");

  SharedRows r;
  Seat away("t", "Bo", &r);
  SeatOutput o;
  std::string s = "none\r\n2\r\n4\r\n";
  away.attach(0, &o);
  away.serverBytes(s.data(), s.size(), 0, &o);
  away.detach(10);
  away.serverBytes(kQuestion, strlen(kQuestion), 1000, &o);
  EXPECT_EQ(away.deadline(), 61000);
}

TEST_F(WebSeat, ResultsAndLeaderboardShareRowsAndPointAtTheSeat) {
  seatInLobby();
  server(kQuestion, 0);
  answer(1, 2, 1500);
  server("Bo\r\n0.70\r\nw\r\nAnn\r\n1.50\r\nr\r\n\r\n", 2000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  EXPECT_EQ(page()[0],
            json::parse("{\"t\":\"results\",\"q\":1,\"round\":1,\"number\":1,"
                        "\"correct\":2,\"players\":2,\"right\":1,\"all\":true,\"rows\":["
                        "{\"i\":0,\"name\":\"Bo\",\"time\":\"0.70\",\"right\":false},"
                        "{\"i\":1,\"name\":\"Ann\",\"time\":\"1.50\",\"right\":true}],\"me\":1,"
                        "\"mine\":{\"i\":1,\"name\":\"Ann\",\"time\":\"1.50\",\"right\":true}}"));
  ASSERT_TRUE(out.toPage[0].shared);

  // A second seat that got the same results shares the very same rows.
  Seat bo("t2", "Bo", &rows);
  SeatOutput o;
  bo.attach(0, &o);
  bo.serverBytes(kSettings30, strlen(kSettings30), 0, &o);
  bo.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
  bo.answer(1, 1, 700, &o);
  o = SeatOutput();
  const char results[] = "Bo\r\n0.70\r\nw\r\nAnn\r\n1.50\r\nr\r\n\r\n";
  bo.serverBytes(results, strlen(results), 2000, &o);
  ASSERT_EQ(o.toPage.size(), 1u);
  EXPECT_EQ(o.toPage[0].shared.get(), out.toPage[0].shared.get());
  EXPECT_EQ(json::parse(o.toPage[0].str())["me"], 0);

  server(kQuestion, 6000);
  answer(2, 2, 7000);
  server(
      "Bo\r\n2\r\nw\r\nAnn\r\n1.00\r\nr\r\nCy\r\n3\r\nr\r\n\r\n"
      "Bo\r\n1\r\n1.35\r\n2\r\n1\r\n1.35\r\n2\r\n"
      "Ann\r\n2\r\n1.25\r\n2\r\n2\r\n1.25\r\n2\r\n"
      "Cy\r\n1\r\n1.35\r\n2\r\n1\r\n1.35\r\n2\r\n\r\n",
      8000);
  // The round's last results keep their pause; the leaderboard follows.
  ASSERT_EQ(types(), (std::vector<std::string>{"results"}));
  EXPECT_EQ(seat.deadline(), 11000);
  tick(10999);
  EXPECT_TRUE(out.toPage.empty());
  tick(11000);
  ASSERT_EQ(types(), (std::vector<std::string>{"leaderboard"}));
  EXPECT_EQ(page()[0],
            json::parse("{\"t\":\"leaderboard\",\"round\":1,\"final\":false,"
                        "\"players\":3,\"rows\":["
                        "{\"i\":0,\"rank\":1,\"name\":\"Ann\",\"correct\":2,\"answers\":2,"
                        "\"average\":\"1.25\"},"
                        "{\"i\":1,\"rank\":2,\"name\":\"Bo\",\"correct\":1,\"answers\":2,"
                        "\"average\":\"1.35\"},"
                        "{\"i\":2,\"rank\":2,\"name\":\"Cy\",\"correct\":1,\"answers\":2,"
                        "\"average\":\"1.35\"}],\"me\":0,\"mine\":{\"i\":0,\"rank\":1,"
                        "\"name\":\"Ann\",\"correct\":2,\"answers\":2,\"average\":\"1.25\"}}"));
  // All standings on request, and the results still.
  out = SeatOutput();
  seat.rows(true, 1, 11000, &out);
  seat.rows(false, 0, 11000, &out);
  ASSERT_EQ(types(), (std::vector<std::string>{"rows", "rows"}));
  EXPECT_EQ(page()[0]["of"], "standings");
  EXPECT_EQ(page()[0]["total"], 3);
  EXPECT_EQ(page()[0]["rows"].size(), 2u);
  EXPECT_EQ(page()[1]["of"], "results");
  EXPECT_EQ(page()[1]["q"], 2);
  EXPECT_EQ(page()[1]["me"], 1);
  // Resume after the summary: the leaderboard; the server closing now ends
  // the seat with the standings.
  seat.detach(12000);
  attach(13000);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "leaderboard"}));
  out = SeatOutput();
  seat.serverEnded(ServerEnd::kClosed, true, &out);
  json ended = page()[0];
  EXPECT_EQ(ended["t"], "ended");
  EXPECT_EQ(ended["message"], "The quiz server has ended the game.");
  EXPECT_EQ(ended["rows"].size(), 3u);
  EXPECT_EQ(ended["me"], 0);
  EXPECT_TRUE(out.closeServer);
}

// In a room beyond the inline size the page gets the counts, the fastest
// right answers and its own row; a page that comes back gets the very same
// bounded message.
TEST_F(WebSeat, ALargeRoomsResultsAreBoundedAndResumeTheSame) {
  seatInLobby();
  server(kQuestion, 0);
  answer(1, 1, 3000);  // wrong, 3.00
  std::string results;
  for (int i = 0; i < 100; ++i) {
    if (i == 60) results += "Ann\r\n3.00\r\nw\r\n";
    results += "P" + std::to_string(i) + "\r\n" + std::to_string(1 + i % 9) + ".00\r\n" +
               (i % 2 ? "r" : "w") + "\r\n";
  }
  server(results + "\r\n", 4000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  std::string first = out.toPage[0].str();
  EXPECT_LE(first.size(), kMaxResultsMessage);
  json j = json::parse(first);
  EXPECT_EQ(j["players"], 101);
  EXPECT_EQ(j["right"], 50);
  EXPECT_EQ(j["all"], false);
  ASSERT_EQ(j["rows"].size(), static_cast<size_t>(kFastestRows));
  EXPECT_EQ(j["rows"][0]["time"], "1.00");
  EXPECT_EQ(j["me"], 60);
  EXPECT_EQ(j["mine"]["name"], "Ann");
  seat.detach(5000);
  attach(6000);
  ASSERT_EQ(types(), (std::vector<std::string>{"welcome", "results"}));
  EXPECT_EQ(out.toPage[1].str(), first);
}

// A page that floods rows requests gets kRowsBurst answers at once, then
// one per kRowsRefillMs; none before there are results.
TEST_F(WebSeat, RowsRequestsAreBoundedPerPage) {
  seatInLobby();
  out = SeatOutput();
  seat.rows(false, 0, 0, &out);
  EXPECT_TRUE(out.toPage.empty());
  server(kQuestion, 0);
  answer(1, 2, 1500);
  server("Bo\r\n0.70\r\nw\r\nAnn\r\n1.50\r\nr\r\n\r\n", 2000);
  struct Step {
    int64_t now;
    int requests;
    size_t answered;
  } steps[] = {{100000, 1000, kRowsBurst},
               {100000 + kRowsRefillMs - 1, 10, 0},
               {100000 + kRowsRefillMs, 10, 1},
               {100000 + 3 * kRowsRefillMs, 10, 2},
               {200000, 10, kRowsBurst}};
  for (const Step& s : steps) {
    out = SeatOutput();
    for (int i = 0; i < s.requests; ++i) seat.rows(false, 0, s.now, &out);
    EXPECT_EQ(out.toPage.size(), s.answered) << s.now;
  }
}

TEST_F(WebSeat, ResultsStayOnThePageForAPauseBeforeTheNextQuestion) {
  seatInLobby();
  server(kQuestion, 0);
  answer(1, 2, 1000);
  server("Ann\r\n1.00\r\nr\r\n\r\n", 1000);
  // The server sends the next question at once; the page keeps the results.
  server(kQuestion, 1010);
  EXPECT_TRUE(out.toPage.empty());
  EXPECT_EQ(seat.deadline(), 4000);
  seat.detach(2000);
  attach(2500);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "results"}));
  bool fine = false;
  answer(2, 2, 3000, &fine);  // not shown yet: nothing to answer
  EXPECT_TRUE(fine);
  EXPECT_TRUE(out.toServer.empty());
  tick(3999);
  EXPECT_TRUE(out.toPage.empty());
  tick(4000);
  ASSERT_EQ(types(), std::vector<std::string>{"question"});
  EXPECT_EQ(page()[0]["q"], 2);
  EXPECT_EQ(page()[0]["timeLeftMs"], 30000);  // its time starts when it is shown
  EXPECT_EQ(seat.deadline(), 34000);
  answer(2, 2, 5500);
  EXPECT_EQ(out.toServer, "1.50\r\nr");
  // After a round's leaderboard the pause is longer.
  server("Ann\r\n1.50\r\nr\r\n\r\nAnn\r\n2\r\n1.25\r\n2\r\n2\r\n1.25\r\n2\r\n\r\n" +
             std::string(kQuestion),
         6000);
  EXPECT_EQ(types(), (std::vector<std::string>{"results"}));
  // A page that comes back while the results are shown sees the results.
  seat.detach(7000);
  attach(8000);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "results"}));
  EXPECT_EQ(seat.deadline(), 9000);
  tick(9000);
  EXPECT_EQ(types(), (std::vector<std::string>{"leaderboard"}));
  EXPECT_EQ(seat.deadline(), 15000);
  tick(15000);
  EXPECT_EQ(types(), (std::vector<std::string>{"question"}));
}

// The server may end the game while the round's leaderboard still waits:
// the page gets the standings with the end.
TEST_F(WebSeat, AnEndDuringTheResultsPauseCarriesTheRoundsStandings) {
  seatInLobby("30\r\n1\r\n4\r\n");  // one question a round
  server(kQuestion, 0);
  answer(1, 2, 1000);
  server("Ann\r\n1.00\r\nr\r\n\r\nAnn\r\n1\r\n1.\r\n1\r\n1\r\n1.\r\n1\r\n\r\n", 1500);
  EXPECT_EQ(types(), (std::vector<std::string>{"results"}));
  out = SeatOutput();
  seat.serverEnded(ServerEnd::kClosed, true, &out);
  json ended = page()[0];
  EXPECT_EQ(ended["t"], "ended");
  EXPECT_EQ(ended["rows"].size(), 1u);
  EXPECT_EQ(seat.deadline(), -1);
}

TEST_F(WebSeat, TextsAreConvertedBetweenTheWireCodePageAndUtf8) {
  SharedRows r;
  Seat zoe("t", "Zo\xEB", &r);  // as checkName gives it
  SeatOutput o;
  zoe.attach(0, &o);
  zoe.serverBytes(kSettings30, strlen(kSettings30), 0, &o);
  EXPECT_EQ(o.toServer, "Zo\xEB\r\n");
  EXPECT_EQ(json::parse(o.toPage[0].str())["name"], "Zo\xC3\xAB");
  o = SeatOutput();
  const char q[] = "Caf\xE9 \x80?\r\na\r\nb\r\nc\r\nd\r\n1\r\n";
  zoe.serverBytes(q, strlen(q), 0, &o);
  EXPECT_EQ(json::parse(o.toPage[0].str())["text"], "Caf\xC3\xA9 \xE2\x82\xAC?");
}

TEST_F(WebSeat, ServerEndsAndRefusals) {
  struct Case {
    const char* name;
    const char* before;  // server bytes before the end
    ServerEnd how;
    bool gameBegun;
    const char* type;
    const char* message;
  } cases[] = {
      {"refused", "", ServerEnd::kRefused, false, "refused", "The quiz server cannot be reached."},
      {"refused after start", "", ServerEnd::kRefused, true, "refused",
       "The game has already begun."},
      {"closed at once", "", ServerEnd::kClosed, false, "refused",
       "The quiz server closed the connection."},
      {"closed in half the settings", "30\r\n", ServerEnd::kClosed, true, "refused",
       "The game has already begun."},
      {"closed in the lobby", kSettings30, ServerEnd::kClosed, false, "ended",
       "The quiz server has ended the game."},
      {"closed mid-question", "30\r\n2\r\n4\r\nQ?\r\na\r\n", ServerEnd::kClosed, false, "ended",
       "The connection to the quiz server was lost."},
  };
  for (const Case& c : cases) {
    SharedRows r;
    Seat s("t", "Ann", &r);
    SeatOutput o;
    s.attach(0, &o);
    s.serverBytes(c.before, strlen(c.before), 0, &o);
    o = SeatOutput();
    s.serverEnded(c.how, c.gameBegun, &o);
    ASSERT_EQ(o.toPage.size(), 1u) << c.name;
    json j = json::parse(o.toPage[0].str());
    EXPECT_EQ(j["t"], c.type) << c.name;
    EXPECT_EQ(j["message"], c.message) << c.name;
    EXPECT_TRUE(o.closeServer) << c.name;
    EXPECT_EQ(s.state(), SeatState::kEnded) << c.name;
    if (std::string(c.type) == "ended") {
      EXPECT_EQ(j["rows"], json::array()) << c.name;
    }
  }
}

TEST_F(WebSeat, MalformedServerStreamsEndTheSeat) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"settings count not a number", "30\r\nx\r\n4\r\n"},
      {"no responses", "30\r\n2\r\n0\r\n"},
      {"line without end", "30\r\n2\r\n4\r\n" + std::string(kMaxServerLine + 2, 'a')},
      {"correct line too long", std::string(kSettings30) + "Q\r\na\r\nb\r\nc\r\nd\r\n12\r\n"},
  };
  for (const Case& c : cases) {
    SharedRows r;
    Seat s("t", "Ann", &r);
    SeatOutput o;
    s.attach(0, &o);
    s.serverBytes(c.bytes.data(), c.bytes.size(), 0, &o);
    ASSERT_FALSE(o.toPage.empty()) << c.name;
    json j = json::parse(o.toPage.back().str());
    EXPECT_EQ(j["t"], "ended") << c.name;
    EXPECT_TRUE(o.closeServer) << c.name;
    EXPECT_EQ(s.state(), SeatState::kEnded) << c.name;
    // Nothing more is read once the seat has ended.
    o = SeatOutput();
    s.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
    EXPECT_TRUE(o.toPage.empty() && o.toServer.empty()) << c.name;
  }
}

// Results and summaries are held back until whole and read once for all
// seats: whatever the pieces they come in, the page gets the same messages.
TEST_F(WebSeat, ResultsAndSummariesInPiecesOfAnySizeGiveTheSameMessages) {
  const std::string round = std::string("Ann\r\n1.50\r\nr\r\nBo\r\n0.70\r\nw\r\n\r\n") +
                            "Ann\r\n1\r\n1.50\r\n1\r\n1\r\n1.50\r\n1\r\n"
                            "Bo\r\n0\r\n0.70\r\n1\r\n0\r\n0.70\r\n1\r\n\r\n" +
                            kQuestion;
  const std::string settings = "30\r\n1\r\n4\r\n";  // one question a round
  std::vector<std::string> whole;
  SharedRows kept;  // read by the first seat, then taken from it by the others
  for (size_t piece : {round.size(), size_t{1}, size_t{2}, size_t{5}, size_t{13}})
    for (bool fresh : {true, false}) {
      SharedRows own;  // a fresh cache: the seat reads the messages itself
      Seat s("t", "Ann", fresh ? &own : &kept);
      SeatOutput o;
      s.attach(0, &o);
      s.serverBytes(settings.data(), settings.size(), 0, &o);
      s.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
      s.answer(1, 2, 1500, &o);
      o = SeatOutput();
      for (size_t at = 0; at < round.size(); at += piece) {
        s.serverBytes(round.data() + at, std::min(piece, round.size() - at), 2000, &o);
      }
      std::vector<std::string> texts;
      for (const PageText& t : o.toPage) texts.push_back(t.str());
      // Results, then the leaderboard after their pause; the next question
      // is read but held back.
      s.tick(5000, &o);
      for (size_t i = texts.size(); i < o.toPage.size(); ++i) texts.push_back(o.toPage[i].str());
      ASSERT_EQ(texts.size(), 2u) << piece;
      if (whole.empty()) whole = texts;
      EXPECT_EQ(texts, whole) << piece;
      EXPECT_EQ(s.state(), SeatState::kQuestion) << piece;
    }
  EXPECT_EQ(json::parse(whole[0])["me"], 0);
  EXPECT_EQ(json::parse(whole[1])["rows"][0]["name"], "Ann");

  // Bytes that begin like those read before but differ later are read anew.
  Seat cy("t3", "Cy", &kept);
  SeatOutput o;
  cy.attach(0, &o);
  cy.serverBytes(settings.data(), settings.size(), 0, &o);
  cy.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
  cy.answer(1, 2, 1500, &o);
  o = SeatOutput();
  const std::string other = "Ann\r\n1.50\r\nr\r\nBo\r\n0.70\r\nw\r\nCy\r\n1.50\r\nr\r\n\r\n";
  for (size_t at = 0; at < other.size(); at += 5) {
    cy.serverBytes(other.data() + at, std::min<size_t>(5, other.size() - at), 2000, &o);
  }
  ASSERT_EQ(o.toPage.size(), 1u);
  json results = json::parse(o.toPage[0].str());
  EXPECT_EQ(results["rows"].size(), 3u);
  EXPECT_EQ(results["me"], 2);
}

TEST_F(WebSeat, MalformedResultsAndSummariesEndTheSeat) {
  struct Case {
    const char* name;
    std::string bytes;  // after the answer to the round's only question
    const char* message;
  } cases[] = {
      // Ended at once, before the message is over.
      {"verdict neither r nor w", "Ann\r\n1.50\r\nx\r\n",
       "The quiz server sent a message that could not be read."},
      {"name line too long", std::string(kMaxServerLine + 2, 'a'),
       "The quiz server sent a message that could not be read."},
      {"summary count not a number",
       "Ann\r\n1.50\r\nr\r\n\r\nAnn\r\nx\r\n1.50\r\n1\r\n1\r\n1.50\r\n1\r\n\r\n",
       "The quiz server sent a message that could not be read."},
  };
  for (const Case& c : cases) {
    SharedRows r;
    Seat s("t", "Ann", &r);
    SeatOutput o;
    s.attach(0, &o);
    s.serverBytes("30\r\n1\r\n4\r\n", 11, 0, &o);
    s.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
    s.answer(1, 2, 1500, &o);
    o = SeatOutput();
    s.serverBytes(c.bytes.data(), c.bytes.size(), 2000, &o);
    ASSERT_EQ(s.state(), SeatState::kEnded) << c.name;
    EXPECT_EQ(json::parse(o.toPage.back().str())["message"], c.message) << c.name;
  }
  // A close in the middle of results is a lost connection, not the end of
  // the game.
  SharedRows r;
  Seat s("t", "Ann", &r);
  SeatOutput o;
  s.attach(0, &o);
  s.serverBytes(kSettings30, strlen(kSettings30), 0, &o);
  s.serverBytes(kQuestion, strlen(kQuestion), 0, &o);
  s.answer(1, 2, 1500, &o);
  s.serverBytes("Ann\r\n1.5", 8, 2000, &o);
  o = SeatOutput();
  s.serverEnded(ServerEnd::kClosed, true, &o);
  EXPECT_EQ(json::parse(o.toPage.back().str())["message"],
            "The connection to the quiz server was lost.");
}

TEST_F(WebSeat, AnswersThatCannotBeRightCloseThePageOthersAreIgnored) {
  seatInLobby();
  bool fine = true;
  answer(1, 1, 10, &fine);  // no question yet: ignored
  EXPECT_TRUE(fine);
  EXPECT_TRUE(out.toServer.empty());  // the lobby must hear nothing
  server(kQuestion, 100);
  answer(1, 5, 200, &fine);  // only four responses
  EXPECT_FALSE(fine);
  EXPECT_TRUE(out.toServer.empty());
  answer(2, 1, 200, &fine);  // a question not asked yet
  EXPECT_TRUE(fine);
  EXPECT_TRUE(out.toServer.empty());
  answer(0, 1, 200, &fine);
  EXPECT_TRUE(out.toServer.empty());
  answer(1, 4, 300, &fine);
  EXPECT_EQ(out.toServer, "0.20\r\nw");
}

// Two players may share a name: the seat's own rows are those with the time
// and verdict it sent, and its own counts; a namesake's are not, and with no
// such row the page is pointed at none.
TEST_F(WebSeat, OwnRowsAreFoundByWhatTheSeatSentNotByNameAlone) {
  seatInLobby("30\r\n1\r\n4\r\n");
  server(kQuestion, 0);
  answer(1, 1, 1250);
  EXPECT_EQ(out.toServer, "1.25\r\nw");
  server(
      "Ann\r\n0.50\r\nr\r\nAnn\r\n1.25\r\nw\r\n\r\n"
      "Ann\r\n1\r\n0.5\r\n1\r\n1\r\n0.5\r\n1\r\n"
      "Ann\r\n0\r\n1.25\r\n1\r\n0\r\n1.25\r\n1\r\n\r\n",
      2000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  EXPECT_EQ(page()[0]["me"], 1);
  tick(5000);
  ASSERT_EQ(types(), std::vector<std::string>{"leaderboard"});
  EXPECT_EQ(page()[0]["me"], 1);

  server(kQuestion, 6000);
  tick(11000);
  answer(2, 2, 12000);
  EXPECT_EQ(out.toServer, "1.00\r\nr");
  server("Ann\r\n9.99\r\nr\r\n\r\n", 13000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  EXPECT_EQ(page()[0]["me"], -1);
  // The standings shown at the end stay those of the round's leaderboard.
  out = SeatOutput();
  seat.serverEnded(ServerEnd::kClosed, true, &out);
  EXPECT_EQ(page()[0]["me"], 1);
}

}  // namespace
}  // namespace qova::web

namespace qova::web {
namespace {

// The host's hold: the paused notice comes when the next question would
// have, after the results' pause or the leaderboard's, and the next
// question replaces it.
TEST_F(WebSeat, AHeldGameTellsThePageOnceTheResultsOrLeaderboardHaveHadTheirPause) {
  const json paused = json::parse(R"({"t":"paused","message":"The host has paused the quiz."})");
  seatInLobby();
  server(kQuestion, 0);
  answer(1, 2, 1500);
  out = SeatOutput();
  seat.setHeld(true, 1600, &out);  // during the question: it finishes as written
  EXPECT_TRUE(out.toPage.empty());
  server("Ann\r\n1.50\r\nr\r\n\r\n", 2000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  EXPECT_EQ(seat.deadline(), 5000);
  tick(4999);
  EXPECT_TRUE(out.toPage.empty());
  tick(5000);
  ASSERT_EQ(page(), std::vector<json>{paused});
  tick(6000);
  EXPECT_TRUE(out.toPage.empty());  // once
  EXPECT_EQ(seat.deadline(), -1);
  // A page that comes back gets the results and the notice.
  attach(7000);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "results", "paused"}));
  out = SeatOutput();
  seat.setHeld(false, 8000, &out);
  EXPECT_TRUE(out.toPage.empty());
  server(kQuestion, 9000);  // Go On: the next question replaces the notice
  EXPECT_EQ(types(), std::vector<std::string>{"question"});
  attach(9100);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "question"}));

  // Held once the round's leaderboard is on the page, after its pause.
  answer(2, 2, 9500);
  server("Ann\r\n1.00\r\nr\r\n\r\nAnn\r\n2\r\n1.25\r\n2\r\n2\r\n1.25\r\n2\r\n\r\n", 10000);
  ASSERT_EQ(types(), std::vector<std::string>{"results"});
  tick(13000);
  ASSERT_EQ(types(), std::vector<std::string>{"leaderboard"});
  out = SeatOutput();
  seat.setHeld(true, 14000, &out);
  EXPECT_TRUE(out.toPage.empty());
  EXPECT_EQ(seat.deadline(), 19000);
  tick(19000);
  ASSERT_EQ(page(), std::vector<json>{paused});
  attach(19500);
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "leaderboard", "paused"}));
}

TEST_F(WebSeat, AHoldAfterThePauseIsToldAtOnceAndNeverInTheLobby) {
  out = SeatOutput();
  seat.setHeld(true, 0, &out);
  seatInLobby();
  EXPECT_EQ(types(), (std::vector<std::string>{"welcome", "lobby"}));
  seat.setHeld(false, 0, &out);
  server(kQuestion, 0);
  answer(1, 2, 1500);
  server("Ann\r\n1.50\r\nr\r\n\r\n", 2000);
  tick(6000);
  EXPECT_TRUE(out.toPage.empty());
  out = SeatOutput();
  seat.setHeld(true, 7000, &out);
  EXPECT_EQ(types(), std::vector<std::string>{"paused"});
}

}  // namespace
}  // namespace qova::web
