// The room's state from its feed: a game told step by step, a client that
// joins midway, and the messages that do not fit the room.
#include "web/seat/room_feed.h"

#include <gtest/gtest.h>

#include "wire/wire.h"

namespace qova::web {
namespace {

// Reads feed lines (after the greeting) into the room; false at the first
// message that does not fit, with *error.
bool tell(RoomFeed* room, FeedReader* reader, const std::string& lines, std::string* error) {
  std::vector<FeedMessage> messages;
  if (!reader->feed(lines.data(), lines.size(), &messages)) {
    *error = reader->error();
    return false;
  }
  for (const FeedMessage& m : messages) {
    if (!room->apply(m, error)) return false;
  }
  return true;
}

std::string names(const RoomFeed& room) {
  std::string out;
  for (const auto& p : room.players()) out += std::to_string(p.first) + ":" + p.second + " ";
  return out;
}

struct Step {
  const char* what;
  const char* lines;
  RoomPhase phase;
  const char* players;  // number:name, in joining order
  int received, awaited;
};

TEST(RoomFeed, FollowsAGameStepByStep) {
  const Step steps[] = {
      {"settings", "SETTINGS\t30\t2\t3\r\n", RoomPhase::kLobby, "", 0, 0},
      {"joins", "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tAda\r\nJOIN\t5\tCy\r\n", RoomPhase::kLobby,
       "1:Ada 2:Bo 3:Ada 5:Cy ", 0, 4},
      {"a drop in the lobby", "DROP\t2\r\n", RoomPhase::kLobby, "1:Ada 3:Ada 5:Cy ", 0, 3},
      {"start", "START\t3\r\n", RoomPhase::kStarted, "1:Ada 3:Ada 5:Cy ", 0, 3},
      {"a question", "QUESTION\t1\t1\t2\t30\tQ one\ta\tb\tc\r\n", RoomPhase::kQuestion,
       "1:Ada 3:Ada 5:Cy ", 0, 3},
      {"answers arrive", "ANSWERS\t1\t2\r\nANSWERS\t2\t1\r\n", RoomPhase::kQuestion,
       "1:Ada 3:Ada 5:Cy ", 2, 1},
      {"a removal in the game", "REMOVE\t5\r\nANSWERS\t2\t0\r\n", RoomPhase::kQuestion,
       "1:Ada 3:Ada ", 2, 0},
      {"results", "RESULTS\t2\t2\r\n3\t1.50\tr\r\n1\t2.25\tw\r\n", RoomPhase::kResults,
       "1:Ada 3:Ada ", 2, 0},
      {"the next question counts afresh", "QUESTION\t1\t2\t2\t30\tQ two\ta\tb\tc\r\n",
       RoomPhase::kQuestion, "1:Ada 3:Ada ", 0, 2},
      {"results and the round's summary",
       "RESULTS\t1\t2\r\n1\t3.00\tr\r\n3\t9.00\tw\r\n"
       "SUMMARY\t1\t2\r\n1\t1\t3.\t2\t1\t2.625\t2\r\n3\t1\t5.25\t2\t1\t5.25\t2\r\n",
       RoomPhase::kResults, "1:Ada 3:Ada ", 0, 2},
      {"end", "END\r\n", RoomPhase::kEnded, "1:Ada 3:Ada ", 0, 2},
  };
  RoomFeed room;
  FeedReader reader;
  std::string error;
  std::string greeting = kRoomFeedGreeting;
  ASSERT_TRUE(tell(&room, &reader, greeting, &error));
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    ASSERT_TRUE(tell(&room, &reader, s.lines, &error)) << error;
    EXPECT_EQ(room.phase(), s.phase);
    EXPECT_EQ(names(room), s.players);
    EXPECT_EQ(room.received(), s.received);
    EXPECT_EQ(room.awaited(), s.awaited);
    if (std::string(s.what) == "results") {
      // Names come from the joins, rows keep the server's order.
      ASSERT_EQ(room.results().size(), 2u);
      EXPECT_EQ(room.results()[0].name, "Ada");
      EXPECT_EQ(room.resultPlayers(), (std::vector<int>{3, 1}));
      EXPECT_TRUE(room.results()[0].correct);
      EXPECT_EQ(room.results()[1].timeText, "2.25");
      EXPECT_EQ(room.correct(), 2);
      EXPECT_TRUE(room.resultsOfQuestion());
      EXPECT_EQ(room.summaryRound(), 0);
    }
  }
  EXPECT_EQ(room.summaryRound(), 1);
  ASSERT_EQ(room.summary().size(), 2u);
  EXPECT_EQ(room.summary()[1].name, "Ada");
  EXPECT_EQ(room.summary()[1].totalAverage, "5.25");
  EXPECT_EQ(room.summaryPlayers(), (std::vector<int>{1, 3}));
  EXPECT_EQ(room.question().text, "Q two");
}

TEST(RoomFeed, AClientJoiningMidwayGetsTheCurrentState) {
  struct Case {
    const char* what;
    const char* lines;
    RoomPhase phase;
    bool question;
    bool resultsOfQuestion;
    int summaryRound;
  } cases[] = {
      {"in the lobby", "JOIN\t4\tDi\r\nJOIN\t9\tEd\r\n", RoomPhase::kLobby, false, false, 0},
      {"a question out",
       "JOIN\t4\tDi\r\nJOIN\t9\tEd\r\nSTART\t2\r\nQUESTION\t2\t1\t2\t30\tQ\ta\r\n"
       "ANSWERS\t1\t1\r\n",
       RoomPhase::kQuestion, true, false, 0},
      {"between questions",
       "JOIN\t4\tDi\r\nJOIN\t9\tEd\r\nSTART\t2\r\nRESULTS\t1\t1\r\n9\t1.0\tr\r\n",
       RoomPhase::kResults, false, false, 0},
      {"after a round",
       "JOIN\t4\tDi\r\nJOIN\t9\tEd\r\nSTART\t2\r\nRESULTS\t1\t1\r\n9\t1.0\tr\r\n"
       "SUMMARY\t3\t1\r\n9\t1\t1.\t1\t4\t2.5\t6\r\n",
       RoomPhase::kResults, false, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RoomFeed room;
    FeedReader reader;
    std::string error;
    std::string lines = std::string(kRoomFeedGreeting) + "SETTINGS\t30\t2\t1\r\n" + c.lines;
    ASSERT_TRUE(tell(&room, &reader, lines, &error)) << error;
    EXPECT_EQ(room.phase(), c.phase);
    EXPECT_EQ(names(room), "4:Di 9:Ed ");
    EXPECT_EQ(room.haveQuestion(), c.question);
    EXPECT_EQ(room.resultsOfQuestion(), c.resultsOfQuestion);
    EXPECT_EQ(room.summaryRound(), c.summaryRound);
  }
}

TEST(RoomFeed, AMessageThatDoesNotFitBreaksTheFeed) {
  const std::string lobby = "SETTINGS\t30\t2\t1\r\nJOIN\t1\tAda\r\nJOIN\t2\tBo\r\n";
  const std::string question = lobby + "START\t2\r\nQUESTION\t1\t1\t2\t30\tQ\ta\r\n";
  struct Case {
    const char* what;
    std::string lines;
    const char* error;
  } cases[] = {
      {"a number used again", lobby + "DROP\t2\r\nJOIN\t2\tCy\r\n", "used before"},
      {"a number below the last", lobby + "JOIN\t1\tCy\r\n", "used before"},
      {"a drop of nobody", lobby + "DROP\t3\r\n", "not in"},
      {"a join after start", lobby + "START\t2\r\nJOIN\t3\tCy\r\n", "after START"},
      {"start twice", lobby + "START\t2\r\nSTART\t2\r\n", "START twice"},
      {"a question before start", lobby + "QUESTION\t1\t1\t2\t30\tQ\ta\r\n", "out of turn"},
      {"two questions out", question + "QUESTION\t1\t2\t2\t30\tQ\ta\r\n", "out of turn"},
      {"answers between questions", lobby + "START\t2\r\nANSWERS\t1\t1\r\n", "no question"},
      {"results in the lobby", lobby + "RESULTS\t1\t0\r\n", "out of turn"},
      {"results for a dropped player", question + "DROP\t2\r\nRESULTS\t1\t1\r\n2\t1.0\tr\r\n",
       "not in"},
      {"a player twice in results", question + "RESULTS\t1\t2\r\n1\t1.0\tr\r\n1\t2.0\tr\r\n",
       "not in"},
      {"a summary without results", question + "SUMMARY\t1\t0\r\n", "SUMMARY"},
      {"two summaries", question + "RESULTS\t1\t0\r\nSUMMARY\t1\t0\r\nSUMMARY\t1\t0\r\n",
       "SUMMARY"},
  };
  std::string crowd = "SETTINGS\t30\t2\t1\r\n";
  for (size_t i = 1; i <= kMaxListedPlayers + 1; ++i) {
    crowd += "JOIN\t" + std::to_string(i) + "\tP\r\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RoomFeed room;
    FeedReader reader;
    std::string error;
    EXPECT_FALSE(tell(&room, &reader, std::string(kRoomFeedGreeting) + c.lines, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  {
    SCOPED_TRACE("more players than a results message may list");
    RoomFeed room;
    FeedReader reader;
    std::string error;
    EXPECT_FALSE(tell(&room, &reader, std::string(kRoomFeedGreeting) + crowd, &error));
    EXPECT_NE(error.find("too many players"), std::string::npos) << error;
    EXPECT_EQ(room.players().size(), kMaxListedPlayers);
  }
}

}  // namespace
}  // namespace qova::web
