// The room screen's state, driven through a registry of real seats with a
// scripted server: one table of steps through a whole game, each with the
// view it must leave on screen.
#include "web/seat/screen_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "web/seat/seat_registry.h"

namespace qova::web {
namespace {

using nlohmann::json;

// 30 s, one question a round, four responses.
const char kSettings[] = "30\r\n1\r\n4\r\n";
const char kQuestion1[] = "Capital of France?\r\nLyon\r\nParis\r\nNice\r\nCaen\r\n2\r\n";
const char kQuestion2[] = "Two and two?\r\n3\r\n4\r\n5\r\n22\r\n2\r\n";
// Ann and Bo are web players, Cy plays directly.
const char kResults1[] = "Cy\r\n2.50\r\nr\r\nAnn\r\n4.00\r\nr\r\nBo\r\n1.00\r\nw\r\n\r\n";
const char kSummary1[] =
    "Cy\r\n1\r\n2.50\r\n1\r\n1\r\n2.50\r\n1\r\n"
    "Ann\r\n1\r\n4.00\r\n1\r\n1\r\n4.00\r\n1\r\n"
    "Bo\r\n0\r\n1.00\r\n1\r\n0\r\n1.00\r\n1\r\n\r\n";
const char kResults2[] = "Cy\r\n9.00\r\nw\r\nAnn\r\n3.00\r\nr\r\nBo\r\n2.00\r\nr\r\n\r\n";
const char kSummary2[] =
    "Cy\r\n0\r\n9.00\r\n1\r\n1\r\n5.75\r\n2\r\n"
    "Ann\r\n1\r\n3.00\r\n1\r\n2\r\n3.50\r\n2\r\n"
    "Bo\r\n1\r\n2.00\r\n1\r\n1\r\n1.50\r\n2\r\n\r\n";

const std::string kRound2EndText = std::string(kResults2) + kSummary2 + kQuestion1;
const char* const kRound2End = kRound2EndText.c_str();

struct Step {
  const char* what;
  enum Kind { kJoin, kServer, kAnswer, kWake, kServerClosed, kNone } kind;
  int seat;           // 0, 1, 2: Ann, Bo, Di (Di leaves in the lobby); -1: Ann and Bo
  const char* bytes;  // kServer: the server's bytes; kJoin: the name
  int choice;         // kAnswer
  int64_t at;
  const char* view;
  // Fields the view must hold (a JSON object whose members are compared).
  const char* fields;
  bool countOnly = false;  // only the count moved, not the view
};

const Step kGame[] = {
    {"nobody yet", Step::kNone, 0, "", 0, 0, "idle", "{}"},
    {"Ann joins", Step::kJoin, 0, "Ann", 0, 0, "lobby", R"({"count":1,"names":["Ann"]})"},
    {"Bo joins", Step::kJoin, 1, "Bo", 0, 0, "lobby", R"({"count":2,"names":["Ann","Bo"]})"},
    {"Di joins", Step::kJoin, 2, "Di", 0, 0, "lobby", R"({"count":3,"names":["Ann","Bo","Di"]})"},
    {"Di is removed", Step::kServerClosed, 2, "", 0, 0, "lobby",
     R"({"count":2,"names":["Ann","Bo"]})"},
    {"question 1", Step::kServer, -1, kQuestion1, 0, 1000, "question",
     R"({"round":1,"number":1,"of":1,"text":"Capital of France?","answered":0,"seated":2,
         "responses":["Lyon","Paris","Nice","Caen"],"timeLimitMs":30000})"},
    {"Ann answers", Step::kAnswer, 0, "", 2, 5000, "question", R"({"answered":1,"seated":2})",
     true},
    {"Bo answers", Step::kAnswer, 1, "", 1, 6000, "question", R"({"answered":2})", true},
    {"results reach Ann", Step::kServer, 0, kResults1, 0, 7000, "reveal",
     R"({"correct":2,"counts":[1,1,0,0],"right":2,"players":3,
         "fastest":[{"name":"Cy","time":"2.50"},{"name":"Ann","time":"4.00"}]})"},
    {"and Bo: nothing new", Step::kServer, 1, kResults1, 0, 7001, "reveal", "{}", true},
    {"summary held for the pause", Step::kServer, -1, kSummary1, 0, 7002, "reveal", "{}", true},
    {"standings after the pause", Step::kWake, -1, "", 0, 10002, "standings",
     R"({"round":1,"rows":[
         {"place":1,"name":"Cy","correct":1,"answers":1,"average":"2.50","up":0},
         {"place":2,"name":"Ann","correct":1,"answers":1,"average":"4.00","up":0},
         {"place":3,"name":"Bo","correct":0,"answers":1,"average":"1.00","up":0}]})"},
    {"question 2 held", Step::kServer, -1, kQuestion2, 0, 10003, "standings", "{}", true},
    {"question 2 released", Step::kWake, -1, "", 0, 16002, "question",
     R"({"round":2,"number":1,"answered":0,"seated":2})"},
    {"Bo answers right", Step::kAnswer, 1, "", 2, 17000, "question", R"({"answered":1})", true},
    {"Ann answers right", Step::kAnswer, 0, "", 2, 18000, "question", R"({"answered":2})", true},
    // The server sends the next question the moment the results are out:
    // all of it may come in one read.
    {"results, summary and question 3 at once", Step::kServer, -1, kRound2End, 0, 19000, "reveal",
     R"({"round":2,"correct":2,"counts":[0,2,0,0],"right":2,"players":3})"},
    {"who moved up", Step::kWake, -1, "", 0, 22001, "standings",
     R"({"round":2,"rows":[
         {"place":1,"name":"Ann","correct":2,"up":1},
         {"place":2,"name":"Bo","correct":1,"average":"1.50","up":1},
         {"place":3,"name":"Cy","correct":1,"up":0}]})"},
    {"Ann's seat ends", Step::kServerClosed, 0, "", 0, 30000, "standings", "{}", true},
    {"the server closes: the podium", Step::kServerClosed, 1, "", 0, 30000, "end",
     R"({"rows":[{"place":1,"name":"Ann"},{"place":2,"name":"Bo"},{"place":3,"name":"Cy"}]})"},
};

struct WebScreenState : ::testing::Test {
  int tokens = 0;
  static RegistryOptions options() {
    RegistryOptions o;
    o.maxSeats = 2000;
    o.joinsPerAddressPerSecond = 1000;
    o.seatsPerAddress = 1000;
    o.connectionsPerAddress = 1000;
    o.maxConnections = 4000;
    o.endedSeatKeepMs = 1000;
    return o;
  }
  SeatRegistry registry{options(), [this] {
                          char t[33];
                          std::snprintf(t, sizeof t, "%032x", ++tokens);
                          return std::string(t);
                        }};
  std::vector<SeatId> seats{0, 0, 0};
  std::vector<PageId> pages{0, 0, 0};
  RegistryActions out;

  void join(int i, const std::string& name, int64_t now) {
    PageId page = static_cast<PageId>(100 + tokens);
    registry.pageOpened(page, "10.0.0." + std::to_string(i), now);
    PageRequest r;
    r.kind = PageRequest::kJoin;
    r.name = name;
    out = RegistryActions();
    registry.pageMessage(page, r, now, &out);
    ASSERT_EQ(out.connect.size(), 1u);
    SeatId id = out.connect[0];
    if (i >= static_cast<int>(seats.size())) {
      seats.resize(static_cast<size_t>(i) + 1);
      pages.resize(static_cast<size_t>(i) + 1);
    }
    seats[static_cast<size_t>(i)] = id;
    pages[static_cast<size_t>(i)] = page;
    registry.serverBytes(id, kSettings, sizeof kSettings - 1, now, &out);
  }
  json screen(int64_t now) const { return json::parse(registry.screen().viewText(now).str()); }
  void run(const Step& s) {
    std::vector<int> who = s.seat < 0 ? std::vector<int>{0, 1} : std::vector<int>{s.seat};
    for (int i : who) {
      SeatId id = seats[static_cast<size_t>(i)];
      out = RegistryActions();
      switch (s.kind) {
        case Step::kJoin:
          join(i, s.bytes, s.at);
          break;
        case Step::kServer:
          registry.serverBytes(id, s.bytes, std::strlen(s.bytes), s.at, &out);
          break;
        case Step::kAnswer: {
          PageRequest r;
          r.kind = PageRequest::kAnswer;
          r.choice = s.choice;
          r.q = questionsSeen;  // the seat's question number
          registry.pageMessage(pages[static_cast<size_t>(i)], r, s.at, &out);
          break;
        }
        case Step::kWake:
          registry.wake(id, s.at, &out);
          break;
        case Step::kServerClosed:
          registry.serverEnded(id, ServerEnd::kClosed, &out);
          break;
        case Step::kNone:
          break;
      }
    }
    if (s.kind == Step::kServer && std::strstr(s.bytes, "?\r\n")) ++questionsSeen;
  }
  int64_t questionsSeen = 0;
};

// Every member of `want` is in `got` with the same value; arrays of objects
// are compared element by element in the same way.
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

TEST_F(WebScreenState, FollowsAGameThroughItsSeats) {
  bool revealed = false;
  for (const Step& s : kGame) {
    uint64_t view = registry.screen().viewVersion();
    uint64_t count = registry.screen().countVersion();
    run(s);
    json got = screen(s.at);
    EXPECT_EQ(got["t"], "screen") << s.what;
    EXPECT_EQ(got["view"], s.view) << s.what << ": " << got;
    expectHolds(got, json::parse(s.fields), s.what);
    if (s.countOnly) {
      EXPECT_EQ(registry.screen().viewVersion(), view) << s.what;
    } else if (s.kind != Step::kNone) {
      EXPECT_NE(registry.screen().viewVersion(), view) << s.what;
    }
    if (std::string(s.what).find("answers") != std::string::npos) {
      EXPECT_NE(registry.screen().countVersion(), count) << s.what;
      json c = json::parse(registry.screen().countText().str());
      EXPECT_EQ(c["answered"], got["answered"]) << s.what;
    }
    // Fairness: before the reveal neither the correct response nor the
    // choices are in anything the screen is sent.
    revealed = revealed || got["view"] == "reveal";
    if (!revealed) {
      std::string all = got.dump() + registry.screen().countText().str();
      EXPECT_EQ(all.find("correct"), std::string::npos) << s.what << ": " << all;
      EXPECT_EQ(all.find("counts"), std::string::npos) << s.what << ": " << all;
    }
  }
}

TEST_F(WebScreenState, AScreenThatComesBackMidQuestionGetsItAtOnce) {
  join(0, "Ann", 0);
  join(1, "Bo", 0);
  for (int i : {0, 1})
    registry.serverBytes(seats[i], kQuestion1, sizeof kQuestion1 - 1, 1000, &out);
  questionsSeen = 1;
  run({"Ann answers", Step::kAnswer, 0, "", 3, 2000, "question", "{}"});
  // A screen opening (or reopening) now is sent viewText: the question with
  // the time left and the count, and still nothing of the answer.
  json got = screen(11000);
  EXPECT_EQ(got["view"], "question");
  EXPECT_EQ(got["timeLeftMs"], 20000);
  EXPECT_EQ(got["answered"], 1);
  EXPECT_EQ(got["seated"], 2);
  EXPECT_FALSE(got.contains("correct"));
}

TEST_F(WebScreenState, NoSeatMeansIdleAndMessagesStayBoundedInABigRoom) {
  const int n = 1200;
  std::string results;
  for (int i = 0; i < n; ++i) {
    join(i, "Player number " + std::to_string(i), 0);
    results += "Player number " + std::to_string(i) + "\r\n" + std::to_string(1 + i % 9) +
               ".00\r\n" + (i % 2 ? "r" : "w") + "\r\n";
  }
  results += "\r\n";
  size_t lobby = registry.screen().viewText(0).size();
  EXPECT_EQ(screen(0)["count"], n);
  EXPECT_EQ(screen(0)["names"].size(), kLobbyNames);
  EXPECT_LT(lobby, 2000u);
  for (int i = 0; i < n; ++i) {
    registry.serverBytes(seats[i], kQuestion1, sizeof kQuestion1 - 1, 1000, &out);
    PageRequest r;
    r.kind = PageRequest::kAnswer;
    r.q = 1;
    r.choice = 1 + i % 4;
    registry.pageMessage(pages[static_cast<size_t>(i)], r, 2000, &out);
  }
  EXPECT_EQ(registry.screen().answered(), static_cast<size_t>(n));
  registry.serverBytes(seats[0], results.data(), results.size(), 3000, &out);
  json got = screen(3000);
  EXPECT_EQ(got["view"], "reveal");
  EXPECT_EQ(got["counts"], json::array({n / 4, n / 4, n / 4, n / 4}));
  EXPECT_EQ(got["players"], n);
  EXPECT_EQ(got["fastest"].size(), static_cast<size_t>(kFastestRows));
  EXPECT_LT(registry.screen().viewText(3000).size(), 1000u);
  // Every web player gone before any standings: idle, saying it follows the
  // game through them.
  for (int i = 0; i < n; ++i) registry.serverEnded(seats[i], ServerEnd::kClosed, &out);
  EXPECT_EQ(screen(4000)["view"], "idle");
  EXPECT_EQ(registry.screen().seated(), 0u);
}

}  // namespace
}  // namespace qova::web
