// The room screen from the quiz server's room feed, on a fake clock: a room
// with no web player played through from the lobby to the podium at the
// players' pace, a mixed room counted over every player with the phones'
// choices, a feed opened midway, and a feed that closes.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "web/seat/screen_state.h"
#include "web/seat/seat_registry.h"

namespace qova::web {
namespace {

using nlohmann::json;

// Reads feed lines into the screen at `now`.
void tell(ScreenState* screen, FeedReader* reader, const std::string& lines, int64_t now) {
  std::vector<FeedMessage> messages;
  ASSERT_TRUE(reader->feed(lines.data(), lines.size(), &messages)) << reader->error();
  if (!screen->feedOpen() && reader->greeted()) screen->feedOpened(now);
  for (const FeedMessage& m : messages) {
    std::string error;
    ASSERT_TRUE(screen->feedMessage(m, now, &error)) << error;
  }
}

void expectHolds(const json& got, const json& want, const std::string& where) {
  for (auto it = want.begin(); it != want.end(); ++it) {
    ASSERT_TRUE(got.contains(it.key())) << where << ": no " << it.key() << " in " << got;
    const json& g = got[it.key()];
    if (it->is_array() && !it->empty() && (*it)[0].is_object()) {
      ASSERT_EQ(g.size(), it->size()) << where << ": " << it.key() << " in " << got;
      for (size_t i = 0; i < it->size(); ++i) expectHolds(g[i], (*it)[i], where);
    } else {
      EXPECT_EQ(g, *it) << where << ": " << it.key();
    }
  }
}

struct Step {
  const char* what;
  int64_t at;
  const char* lines;  // feed lines; empty: the shell's wake-up at `at`
  const char* view;
  const char* fields;
  int64_t wakeAt;  // what the screen asks for after the step
};

// One round of two questions, then a second round's first question and the
// end, all direct players: Ada, Bo (drops in the lobby), Cy, Ada again.
const Step kRoom[] = {
    {"greeting and settings", 0, "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\n", "lobby",
     R"({"count":0,"names":[]})", -1},
    {"joins", 100, "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tCy\r\nJOIN\t4\tAda\r\n", "lobby",
     R"({"count":4,"names":["Ada","Bo","Cy","Ada"]})", -1},
    {"a drop", 200, "DROP\t2\r\n", "lobby", R"({"count":3,"names":["Ada","Cy","Ada"]})", -1},
    {"start", 300, "START\t3\r\n", "lobby", R"({"count":3})", -1},
    {"question 1", 1000, "QUESTION\t1\t1\t2\t30\tCapital of France?\tLyon\tParis\tNice\tCaen\r\n",
     "question",
     R"({"round":1,"number":1,"of":2,"text":"Capital of France?",
         "responses":["Lyon","Paris","Nice","Caen"],"timeLimitMs":30000,"timeLeftMs":30000,
         "answered":0,"seated":3})",
     -1},
    {"answers come in", 2000, "ANSWERS\t1\t2\r\nANSWERS\t2\t1\r\n", "question",
     R"({"answered":2,"seated":3,"timeLeftMs":29000})", -1},
    {"results and the next question at once", 3000,
     "ANSWERS\t3\t0\r\nRESULTS\t2\t3\r\n1\t2.50\tr\r\n3\t9.00\tw\r\n4\t1.25\tr\r\n"
     "QUESTION\t1\t2\t2\t30\tTwo and two?\t3\t4\t5\t22\r\n",
     "reveal",
     R"({"number":1,"correct":2,"counts":[0,0,0,0],"countsOf":"phones","phones":0,"right":2,
         "players":3,"fastest":[{"name":"Ada","time":"1.25"},{"name":"Ada","time":"2.50"}]})",
     6000},
    {"the reveal stays up for the results' pause", 5999, "", "reveal", R"({"number":1})", 6000},
    {"question 2 once the pause is over", 6000, "", "question",
     R"({"number":2,"text":"Two and two?","answered":0,"seated":3,"timeLeftMs":30000})", -1},
    {"its time runs from the screen's release", 16000, "", "question", R"({"timeLeftMs":20000})",
     -1},
    {"the round's last results with its summary", 17000,
     "RESULTS\t2\t3\r\n1\t3.00\tr\r\n3\t2.00\tr\r\n4\t5.00\tw\r\n"
     "SUMMARY\t1\t3\r\n1\t2\t2.75\t2\t2\t2.75\t2\r\n3\t1\t5.5\t2\t1\t5.5\t2\r\n"
     "4\t1\t3.125\t2\t1\t3.125\t2\r\n"
     "QUESTION\t2\t1\t2\t30\tLast?\ta\tb\tc\td\r\n",
     "reveal", R"({"number":2,"right":2,"players":3})", 20000},
    {"standings after the results' pause", 20000, "", "standings",
     R"({"round":1,"rows":[
         {"place":1,"name":"Ada","correct":2,"answers":2,"average":"2.75","up":0},
         {"place":2,"name":"Ada","correct":1,"average":"3.125"},
         {"place":3,"name":"Cy","correct":1,"average":"5.5"}]})",
     26000},
    {"round 2 after the leaderboard's pause", 26000, "", "question",
     R"({"round":2,"number":1,"text":"Last?"})", -1},
    {"a removal in the game, then the end", 27000,
     "REMOVE\t1\r\nANSWERS\t0\t2\r\nRESULTS\t1\t2\r\n3\t1.00\tr\r\n4\t2.00\tr\r\n"
     "SUMMARY\t2\t2\r\n3\t1\t1.\t1\t2\t4.\t3\r\n4\t1\t2.\t1\t2\t2.75\t3\r\nEND\r\n",
     "reveal", R"({"round":2,"right":2,"players":2})", 30000},
    {"standings of round 2: who moved up", 30000, "", "standings",
     R"({"round":2,"rows":[{"place":1,"name":"Ada","up":1},{"place":2,"name":"Cy","up":1}]})",
     36000},
    {"the podium after the leaderboard's pause", 36000, "", "end",
     R"({"rows":[{"place":1,"name":"Ada","correct":2,"answers":3},{"place":2,"name":"Cy"}]})", -1},
};

TEST(WebScreenFeed, ARoomWithNoWebPlayerPlaysFromLobbyToPodiumAtThePlayersPace) {
  ScreenState screen;
  FeedReader reader;
  bool revealed = false;
  for (const Step& s : kRoom) {
    SCOPED_TRACE(s.what);
    if (*s.lines) {
      tell(&screen, &reader, s.lines, s.at);
    } else {
      // A wake-up before the time asked for (a timer's early end) shows
      // nothing early.
      screen.wake(s.at);
    }
    json got = json::parse(screen.viewText(s.at).str());
    EXPECT_EQ(got["view"], s.view) << got;
    expectHolds(got, json::parse(s.fields), s.what);
    EXPECT_EQ(screen.wakeAt(), s.wakeAt);
    json count = json::parse(screen.countText().str());
    if (got.contains("answered")) {
      EXPECT_EQ(count["answered"], got["answered"]);
      EXPECT_EQ(count["seated"], got["seated"]);
    }
    // Fairness: nothing before a question's results holds its correct
    // response (the question's own words aside).
    revealed = got["view"] == "reveal" || got["view"] == "standings" || got["view"] == "end";
    if (!revealed) {
      std::string all = got.dump() + count.dump();
      EXPECT_EQ(all.find("correct"), std::string::npos) << all;
      EXPECT_EQ(all.find("counts"), std::string::npos) << all;
    }
  }
  // The feed closes after its end: the podium stays.
  screen.feedClosed();
  EXPECT_EQ(json::parse(screen.viewText(40000).str())["view"], "end");
}

// The server sends its END and exits at once, while the screen still holds
// the last reveal: the standings and the podium come at the players' pace
// all the same, and the podium stays.
TEST(WebScreenFeed, AFeedClosedRightAfterItsEndStillShowsTheStandingsAndThePodium) {
  ScreenState screen;
  FeedReader reader;
  tell(&screen, &reader,
       "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t1\t4\r\nJOIN\t1\tAda\r\nJOIN\t2\tBo\r\n"
       "START\t2\r\nQUESTION\t1\t1\t1\t30\tLast?\ta\tb\tc\td\r\n",
       0);
  tell(&screen, &reader,
       "ANSWERS\t2\t0\r\nRESULTS\t1\t2\r\n1\t1.00\tr\r\n2\t2.00\tw\r\n"
       "SUMMARY\t1\t2\r\n1\t1\t1.\t1\t1\t1.\t1\r\n2\t0\t2.\t1\t0\t2.\t1\r\n"
       "QUESTION\t2\t1\t1\t30\tNever shown?\ta\tb\tc\td\r\nEND\r\n",
       1000);
  screen.feedClosed();
  struct {
    int64_t at;
    const char* view;
    int64_t wakeAt;
  } steps[] = {
      {1000, "reveal", 4000}, {4000, "standings", 10000}, {10000, "end", -1}, {60000, "end", -1}};
  // (Round 2's first question went out before the end: it gives way to the
  // podium at once once the standings' pause is over.)
  for (const auto& step : steps) {
    SCOPED_TRACE(step.at);
    screen.wake(step.at);
    json got = json::parse(screen.viewText(step.at).str());
    EXPECT_EQ(got["view"], step.view) << got;
    EXPECT_EQ(screen.wakeAt(), step.wakeAt);
  }
  EXPECT_FALSE(screen.feedOpen());
}

// A feed lost before its end leaves the screen to the seats at once: nothing
// it held is shown later.
TEST(WebScreenFeed, AFeedLostBeforeItsEndHoldsNothing) {
  ScreenState screen;
  FeedReader reader;
  tell(&screen, &reader,
       "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\nJOIN\t1\tAda\r\nSTART\t1\r\n"
       "QUESTION\t1\t1\t2\t30\tFirst?\ta\tb\tc\td\r\nANSWERS\t1\t0\r\nRESULTS\t1\t1\r\n"
       "1\t1.00\tr\r\nQUESTION\t1\t2\t2\t30\tSecond?\ta\tb\tc\td\r\n",
       0);
  EXPECT_EQ(screen.wakeAt(), 3000);
  screen.feedClosed();
  EXPECT_EQ(screen.wakeAt(), -1);
  EXPECT_EQ(screen.view(), ScreenView::kIdle);
}

TEST(WebScreenFeed, TheLobbyListsTheLatestNamesAndCountsAll) {
  ScreenState screen;
  FeedReader reader;
  std::string lines = "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\n";
  for (int i = 1; i <= 40; ++i)
    lines += "JOIN\t" + std::to_string(i) + "\tP" + std::to_string(i) + "\r\n";
  // A direct player's name may be far longer than a phone's.
  lines += "JOIN\t41\t" + std::string(1000, 'L') + "\r\nDROP\t3\r\n";
  tell(&screen, &reader, lines, 0);
  json got = json::parse(screen.viewText(0).str());
  EXPECT_EQ(got["count"], 40);
  ASSERT_EQ(got["names"].size(), kLobbyNames);
  EXPECT_EQ(got["names"][0], "P12");
  EXPECT_EQ(got["names"][28], "P40");
  EXPECT_EQ(got["names"][29].get<std::string>().size(), kMaxShownName - 1 + 3);  // and "…"
  EXPECT_LT(screen.viewText(0).size(), 1000u);
}

TEST(WebScreenFeed, AFeedOpenedMidwayShowsTheCurrentStateAtOnce) {
  struct Case {
    const char* what;
    const char* state;
    const char* view;
    const char* fields;
  } cases[] = {
      {"a question out",
       "JOIN\t2\tBo\r\nJOIN\t7\tCy\r\nSTART\t2\r\n"
       "QUESTION\t3\t2\t5\t20\tQ?\ta\tb\r\nANSWERS\t1\t1\r\n",
       "question", R"({"round":3,"number":2,"of":5,"answered":1,"seated":2,"timeLeftMs":20000})"},
      {"between questions",
       "JOIN\t2\tBo\r\nJOIN\t7\tCy\r\nSTART\t2\r\nRESULTS\t1\t1\r\n7\t1.0\tr\r\n", "lobby",
       R"({"count":2})"},
      {"after a round",
       "JOIN\t2\tBo\r\nJOIN\t7\tCy\r\nSTART\t2\r\nRESULTS\t1\t1\r\n7\t1.0\tr\r\n"
       "SUMMARY\t4\t1\r\n7\t1\t1.\t1\t3\t2.5\t8\r\n",
       "standings", R"({"round":4,"rows":[{"place":1,"name":"Cy","correct":3,"answers":8}]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScreenState screen;
    FeedReader reader;
    tell(&screen, &reader, std::string("QOVA ROOM FEED\t1\r\nSETTINGS\t30\t5\t2\r\n") + c.state,
         500);
    json got = json::parse(screen.viewText(500).str());
    EXPECT_EQ(got["view"], c.view) << got;
    expectHolds(got, json::parse(c.fields), c.what);
  }
}

TEST(WebScreenFeed, AServerFarAheadOfTheRoomIsShownAtOnceBeyondTheBound) {
  ScreenState screen;
  FeedReader reader;
  std::string lines =
      "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2000000\t1\r\nJOIN\t1\tAda\r\nSTART\t1\r\n";
  // Questions answered at once, faster than any pause: all but the first wait.
  const int n = static_cast<int>(kMaxHeldFeedMessages);
  for (int i = 1; i <= n; ++i) {
    lines += "QUESTION\t1\t" + std::to_string(i) + "\t2000000\t30\tQ" + std::to_string(i) +
             "\ta\r\nRESULTS\t1\t1\r\n1\t1.00\tr\r\n";
  }
  tell(&screen, &reader, lines, 0);
  json got = json::parse(screen.viewText(0).str());
  EXPECT_EQ(got["view"], "reveal");
  // Held no more than the bound: the screen has moved past the first pause.
  EXPECT_GT(got["number"].get<int>(), 1);
  EXPECT_LT(got["number"].get<int>(), n);
}

TEST(WebScreenFeed, AMessageThatDoesNotFitIsRefused) {
  ScreenState screen;
  FeedReader reader;
  tell(&screen, &reader, "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t5\t2\r\nJOIN\t1\tAda\r\n", 0);
  FeedMessage drop;
  drop.kind = FeedKind::kDrop;
  drop.player = 9;
  std::string error;
  EXPECT_FALSE(screen.feedMessage(drop, 0, &error));
  EXPECT_FALSE(error.empty());
}

// A mixed room: Ann and Bo on phones, Cy and Di at the room's PCs.
struct WebScreenFeedMixed : ::testing::Test {
  int tokens = 0;
  static RegistryOptions options() {
    RegistryOptions o;
    o.maxSeats = 100;
    o.joinsPerAddressPerSecond = 100;
    o.seatsPerAddress = 100;
    o.connectionsPerAddress = 100;
    o.maxConnections = 400;
    return o;
  }
  SeatRegistry registry{options(), [this] {
                          char t[33];
                          std::snprintf(t, sizeof t, "%032x", ++tokens);
                          return std::string(t);
                        }};
  FeedReader reader;
  std::vector<SeatId> seats;
  std::vector<PageId> pages;
  RegistryActions out;

  void join(const std::string& name, int64_t now) {
    PageId page = static_cast<PageId>(100 + tokens);
    registry.pageOpened(page, "10.0.0.1", now);
    PageRequest r;
    r.kind = PageRequest::kJoin;
    r.name = name;
    registry.pageMessage(page, r, now, &out);
    ASSERT_EQ(out.connect.size(), 1u);
    seats.push_back(out.connect[0]);
    pages.push_back(page);
    out = RegistryActions();
    const char settings[] = "30\r\n1\r\n4\r\n";
    registry.serverBytes(seats.back(), settings, sizeof settings - 1, now, &out);
  }
  void server(const char* bytes, int64_t now) {
    for (SeatId id : seats) registry.serverBytes(id, bytes, std::strlen(bytes), now, &out);
  }
  void answer(size_t i, int choice, int64_t now) {
    PageRequest r;
    r.kind = PageRequest::kAnswer;
    r.q = 1;
    r.choice = choice;
    registry.pageMessage(pages[i], r, now, &out);
  }
  json screen(int64_t now) { return json::parse(registry.screen().viewText(now).str()); }
};

TEST_F(WebScreenFeedMixed, CountsEveryPlayerAndLabelsThePhonesChoices) {
  join("Ann", 0);
  join("Bo", 0);
  EXPECT_EQ(screen(0)["count"], 2);  // the seats alone: the phones
  ScreenState& s = registry.screen();
  tell(&s, &reader,
       "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t1\t4\r\n"
       "JOIN\t1\tCy\r\nJOIN\t2\tAnn\r\nJOIN\t3\tDi\r\nJOIN\t4\tBo\r\n",
       100);
  json lobby = screen(100);
  EXPECT_EQ(lobby["count"], 4);
  EXPECT_EQ(lobby["names"], json::array({"Cy", "Ann", "Di", "Bo"}));

  tell(&s, &reader,
       "START\t4\r\nQUESTION\t1\t1\t1\t30\tCapital of France?\tLyon\tParis\tNice\tCaen\r\n", 1000);
  server("Capital of France?\r\nLyon\r\nParis\r\nNice\r\nCaen\r\n2\r\n", 1000);
  answer(0, 2, 2000);
  answer(1, 3, 2500);
  tell(&s, &reader, "ANSWERS\t2\t2\r\n", 2600);
  json q = screen(2600);
  EXPECT_EQ(q["view"], "question");
  EXPECT_EQ(q["answered"], 2);
  EXPECT_EQ(q["seated"], 4);  // over every player, not the two phones
  EXPECT_FALSE(q.contains("correct"));
  EXPECT_FALSE(q.contains("counts"));

  tell(&s, &reader,
       "ANSWERS\t4\t0\r\nRESULTS\t2\t4\r\n1\t1.50\tr\r\n2\t2.00\tr\r\n3\t8.00\tw\r\n"
       "4\t2.50\tw\r\n",
       5000);
  json r = screen(5000);
  EXPECT_EQ(r["view"], "reveal");
  EXPECT_EQ(r["counts"], json::array({0, 1, 1, 0}));
  EXPECT_EQ(r["countsOf"], "phones");
  EXPECT_EQ(r["phones"], 2);
  EXPECT_EQ(r["right"], 2);
  EXPECT_EQ(r["players"], 4);
  EXPECT_EQ(r["fastest"][0]["name"], "Cy");

  // The feed lost before the end (the server restarts): the seats again.
  s.feedClosed();
  EXPECT_EQ(screen(6000)["view"], "question");
  EXPECT_EQ(screen(6000)["seated"], 2);
}

}  // namespace
}  // namespace qova::web

namespace qova::web {
namespace {

// The host's hold on screen: "Paused" over the reveal or the standings once
// they have had their players' pause, never over a question.
TEST(WebScreenFeed, TheHoldIsShownOverTheRevealOrStandingsAtThePlayersPace) {
  ScreenState screen;
  FeedReader reader;
  tell(&screen, &reader,
       "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\nHOLD\t0\t0\r\nJOIN\t1\tAda\r\nSTART\t1\r\n"
       "QUESTION\t1\t1\t2\t30\tQ1?\ta\tb\tc\td\r\n",
       0);
  uint64_t version = screen.holdVersion();
  tell(&screen, &reader, "HOLD\t1\t0\r\n", 500);  // during the question
  EXPECT_FALSE(screen.holdShown());
  EXPECT_EQ(screen.holdVersion(), version);
  tell(&screen, &reader, "RESULTS\t1\t1\r\n1\t1.00\tr\r\n", 1000);
  EXPECT_EQ(screen.view(), ScreenView::kReveal);
  EXPECT_FALSE(screen.holdShown());
  EXPECT_EQ(screen.wakeAt(), 1000 + kResultsPauseMs);
  screen.wake(1000 + kResultsPauseMs - 1);
  EXPECT_FALSE(screen.holdShown());
  screen.wake(1000 + kResultsPauseMs);
  EXPECT_TRUE(screen.holdShown());
  EXPECT_EQ(screen.view(), ScreenView::kReveal);  // kept under it
  EXPECT_NE(screen.holdVersion(), version);
  EXPECT_EQ(json::parse(screen.holdText().str()),
            json::parse(R"({"t":"screen.hold","held":true})"));
  EXPECT_EQ(screen.wakeAt(), -1);

  // Go On: the pause is over and the next question comes at once.
  tell(&screen, &reader, "HOLD\t0\t1\r\nQUESTION\t1\t2\t2\t30\tQ2?\ta\tb\tc\td\r\n", 10000);
  EXPECT_FALSE(screen.holdShown());
  EXPECT_EQ(screen.view(), ScreenView::kQuestion);

  // The round's end with "hold after each round": the standings first, for
  // their pause, then "Paused" over them.
  tell(&screen, &reader,
       "RESULTS\t1\t1\r\n1\t1.00\tr\r\nSUMMARY\t1\t1\r\n1\t2\t1.00\t2\t2\t1.00\t2\r\n"
       "HOLD\t1\t1\r\n",
       11000);
  EXPECT_EQ(screen.view(), ScreenView::kReveal);
  screen.wake(11000 + kResultsPauseMs);
  EXPECT_EQ(screen.view(), ScreenView::kStandings);
  EXPECT_FALSE(screen.holdShown());
  EXPECT_EQ(screen.wakeAt(), 11000 + kResultsPauseMs + kLeaderboardPauseMs);
  screen.wake(11000 + kResultsPauseMs + kLeaderboardPauseMs);
  EXPECT_TRUE(screen.holdShown());
  EXPECT_EQ(screen.view(), ScreenView::kStandings);
  // The feed lost: no hold shown.
  screen.feedClosed();
  EXPECT_FALSE(screen.holdShown());
}

}  // namespace
}  // namespace qova::web
