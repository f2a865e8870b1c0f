// The host pages' desk on a fake clock: the key and its per-address wait,
// the state from the room feed, and each command's way to the feed and its
// answer back to the page that sent it.
#include "web/seat/host_desk.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace qova::web {
namespace {

using nlohmann::json;

const char kKey[] = "00112233445566778899aabbccddeeff";

struct WebHostDesk : ::testing::Test {
  SeatRegistry registry{RegistryOptions(), [] { return std::string("t"); }};
  HostDesk desk{kKey, &registry};
  FeedReader reader;
  HostActions out;

  HostActions& say(PageId page, const std::string& text, int64_t now) {
    out = HostActions();
    HostRequest r;
    EXPECT_TRUE(parseHostMessage(text.data(), text.size(), &r)) << text;
    desk.pageMessage(page, r, now, &out);
    return out;
  }
  HostActions& key(PageId page, const std::string& k, int64_t now) {
    return say(page, json{{"t", "key"}, {"key", k}}.dump(), now);
  }
  // Feed lines as the gateway's feed link hands them on.
  HostActions& feed(const std::string& lines, int64_t now) {
    out = HostActions();
    std::vector<FeedMessage> messages;
    EXPECT_TRUE(reader.feed(lines.data(), lines.size(), &messages)) << reader.error();
    if (!desk.feedOpen() && reader.greeted()) desk.feedOpened(now, &out);
    for (const FeedMessage& m : messages) {
      if (isCommandAnswer(m)) {
        desk.feedAnswer(m, &out);
      } else {
        desk.feedMessage(m, now);
      }
    }
    desk.flush(now, &out);
    return out;
  }
  HostActions& wake(int64_t now) {
    out = HostActions();
    desk.wake(now, &out);
    return out;
  }
  // The messages to `page`, parsed.
  std::vector<json> to(PageId page) const {
    std::vector<json> list;
    for (const auto& p : out.toPages) {
      if (p.page == page) list.push_back(json::parse(p.text.str()));
    }
    return list;
  }
  bool closes(PageId page) const {
    for (PageId p : out.closePages) {
      if (p == page) return true;
    }
    return false;
  }
  void openRoom() {
    feed(
        "QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\nHOLD\t0\t0\r\n"
        "JOIN\t1\tAda\r\nJOIN\t2\tBo\r\nJOIN\t3\tAda\r\n",
        0);
  }
};

TEST_F(WebHostDesk, AWrongKeyCostsItsAddressASecondAndTheRightKeyIsNeverRefusedAfter) {
  openRoom();
  struct Try {
    const char* what;
    PageId page;
    const char* address;
    int64_t at;
    std::string key;
    bool taken;
  };
  const Try tries[] = {
      {"a wrong key", 1, "10.0.0.5", 1000, "ffffffffffffffffffffffffffffffff", false},
      {"the right key inside the second", 2, "10.0.0.5", 1999, kKey, false},
      {"another address meanwhile", 3, "10.0.0.6", 1500, kKey, true},
      {"the right key once the second is over", 4, "10.0.0.5", 2000, kKey, true},
      {"a key of the wrong length", 5, "10.0.0.7", 3000, "0011", false},
      {"an empty key", 6, "10.0.0.8", 3000, "", false},
      {"the key in capitals", 7, "10.0.0.9", 3000, "00112233445566778899AABBCCDDEEFF", false},
  };
  for (const Try& t : tries) {
    SCOPED_TRACE(t.what);
    desk.pageOpened(t.page, t.address, t.at);
    key(t.page, t.key, t.at);
    std::vector<json> got = to(t.page);
    ASSERT_EQ(got.size(), 1u);
    if (t.taken) {
      EXPECT_EQ(got[0]["t"], "state");
      EXPECT_EQ(got[0]["players"], 3);
      EXPECT_FALSE(closes(t.page));
    } else {
      EXPECT_EQ(got[0],
                json::parse(R"({"t":"denied","message":)"
                            R"("This host link is not valid. Open the link QOVAWEB shows."})"));
      EXPECT_TRUE(closes(t.page));
    }
  }
  EXPECT_EQ(desk.keyedPages(), 2u);
}

TEST_F(WebHostDesk, APageWithoutTheKeyGetsNoStateAndSendsNoCommand) {
  openRoom();
  desk.pageOpened(1, "10.0.0.5", 0);
  say(1, R"({"t":"command","id":1,"do":"start"})", 10);
  EXPECT_TRUE(out.toFeed.empty());
  EXPECT_EQ(to(1)[0]["t"], "denied");
  EXPECT_TRUE(closes(1));
  desk.pageOpened(2, "10.0.0.6", 0);
  say(2, R"({"t":"players","from":0})", 10);
  EXPECT_EQ(to(2).size(), 1u);
  EXPECT_EQ(to(2)[0]["t"], "denied");
  // A page that says nothing is closed after ten seconds, and gets nothing.
  desk.pageOpened(3, "10.0.0.7", 100);
  feed("START\t3\r\n", 200);
  EXPECT_TRUE(to(3).empty());
  EXPECT_EQ(desk.wakeAt(), 10100);
  wake(10099);
  EXPECT_FALSE(closes(3));
  wake(10100);
  EXPECT_TRUE(closes(3));
  EXPECT_TRUE(to(3).empty());
}

TEST_F(WebHostDesk, WithoutAFeedTheKeyedPageIsToldAndCommandsGoNowhere) {
  desk.pageOpened(1, "10.0.0.5", 0);
  key(1, kKey, 0);
  const json nofeed = json::parse(
      R"({"t":"nofeed","message":"The host controls need QOVAWEB on the quiz server's computer."})");
  EXPECT_EQ(to(1), std::vector<json>{nofeed});
  say(1, R"({"t":"command","id":4,"do":"hold"})", 10);
  EXPECT_TRUE(out.toFeed.empty());
  EXPECT_EQ(to(1)[0], json::parse(R"({"t":"answer","id":4,"done":false,)"
                                  R"("reason":"The quiz server did not answer."})"));
  // The feed comes: the state follows; it goes again: nofeed again.
  openRoom();
  ASSERT_FALSE(to(1).empty());
  EXPECT_EQ(to(1).back()["t"], "state");
  out = HostActions();
  desk.feedClosed(&out);
  EXPECT_EQ(to(1), std::vector<json>{nofeed});
}

TEST_F(WebHostDesk, EachCommandGoesToTheFeedTaggedAndItsAnswerToThePageThatSentIt) {
  openRoom();
  desk.pageOpened(1, "10.0.0.5", 0);
  desk.pageOpened(2, "10.0.0.6", 0);
  key(1, kKey, 0);
  key(2, kKey, 0);
  struct Case {
    const char* message;
    const char* verb;  // the line's text after the tag
  };
  const Case cases[] = {
      {R"({"t":"command","id":1,"do":"start"})", "START"},
      {R"({"t":"command","id":2,"do":"endQuestion"})", "END QUESTION"},
      {R"({"t":"command","id":3,"do":"hold"})", "HOLD"},
      {R"({"t":"command","id":4,"do":"goOn"})", "GO ON"},
      {R"({"t":"command","id":5,"do":"holdAfterRound","on":true})", "HOLD AFTER ROUND\t1"},
      {R"({"t":"command","id":6,"do":"holdAfterRound","on":false})", "HOLD AFTER ROUND\t0"},
      {R"({"t":"command","id":7,"do":"remove","player":3})", "REMOVE\t3"},
  };
  int64_t now = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    say(1, c.message, now);
    ASSERT_EQ(out.toFeed.size(), 1u);
    const std::string& line = out.toFeed[0];
    ASSERT_EQ(line.compare(0, 8, "COMMAND\t"), 0) << line;
    size_t tab = line.find('\t', 8);
    std::string tag = line.substr(8, tab - 8);
    EXPECT_EQ(line.substr(tab + 1), std::string(c.verb) + "\r\n");
    EXPECT_TRUE(to(1).empty());  // nothing until the answer
    int64_t id = json::parse(c.message)["id"];
    // The other page's command while this one waits goes with its own tag.
    say(2, R"({"t":"command","id":99,"do":"hold"})", now);
    ASSERT_EQ(out.toFeed.size(), 1u);
    std::string otherTag = out.toFeed[0].substr(8, out.toFeed[0].find('\t', 8) - 8);
    EXPECT_NE(tag, otherTag);
    feed("REFUSED\t" + otherTag + "\tThe quiz has not started.\r\nDONE\t" + tag + "\r\n", now);
    json done = {{"t", "answer"}, {"id", id}, {"done", true}};
    EXPECT_EQ(to(1), std::vector<json>{done});
    EXPECT_EQ(to(2), std::vector<json>{json::parse(R"({"t":"answer","id":99,"done":false,)"
                                                   R"("reason":"The quiz has not started."})")});
    now += 10;
  }
}

TEST_F(WebHostDesk, OneCommandAtATimeAndEveryCommandIsAnsweredWithinFiveSeconds) {
  openRoom();
  desk.pageOpened(1, "10.0.0.5", 0);
  key(1, kKey, 0);
  say(1, R"({"t":"command","id":1,"do":"start"})", 1000);
  ASSERT_EQ(out.toFeed.size(), 1u);
  std::string tag = out.toFeed[0].substr(8, out.toFeed[0].find('\t', 8) - 8);
  say(1, R"({"t":"command","id":2,"do":"hold"})", 1100);
  EXPECT_TRUE(out.toFeed.empty());
  EXPECT_EQ(to(1)[0], json::parse(R"({"t":"answer","id":2,"done":false,)"
                                  R"("reason":"Wait for the last command's answer."})"));
  EXPECT_EQ(desk.wakeAt(), 6000);
  wake(5999);
  EXPECT_TRUE(to(1).empty());
  wake(6000);
  EXPECT_EQ(to(1)[0], json::parse(R"({"t":"answer","id":1,"done":false,)"
                                  R"("reason":"The quiz server did not answer."})"));
  // Its answer coming late is not passed on; the page may send again.
  feed("DONE\t" + tag + "\r\n", 6100);
  EXPECT_TRUE(to(1).empty());
  say(1, R"({"t":"command","id":3,"do":"start"})", 6200);
  EXPECT_EQ(out.toFeed.size(), 1u);
  // The feed closing answers the command on its way.
  out = HostActions();
  desk.feedClosed(&out);
  std::vector<json> got = to(1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], json::parse(R"({"t":"answer","id":3,"done":false,)"
                                R"("reason":"The quiz server did not answer."})"));
  EXPECT_EQ(got[1]["t"], "nofeed");
}

TEST_F(WebHostDesk, TheStateFollowsTheGameWithCountsAtMostEveryQuarterSecond) {
  openRoom();
  desk.pageOpened(1, "10.0.0.5", 0);
  key(1, kKey, 0);
  EXPECT_EQ(to(1)[0], json::parse(R"({"t":"state","stage":"lobby","held":false,)"
                                  R"("holdAfterRound":false,"players":3,"question":null,)"
                                  R"("answered":0,"awaited":0})"));
  feed("HOLD\t0\t1\r\nSTART\t3\r\n", 1000);
  EXPECT_EQ(to(1)[0]["stage"], "between");
  EXPECT_EQ(to(1)[0]["holdAfterRound"], true);
  feed("QUESTION\t1\t2\t2\t30\tWhat?\ta\tb\tc\td\r\n", 2000);
  EXPECT_EQ(to(1)[0], json::parse(R"({"t":"state","stage":"question","held":false,)"
                                  R"("holdAfterRound":true,"players":3,"question":{"round":1,)"
                                  R"("number":2,"of":2,"text":"What?","timeLimitMs":30000,)"
                                  R"("timeLeftMs":30000},"answered":0,"awaited":3})"));
  feed("ANSWERS\t1\t2\r\n", 2100);  // inside the quarter second: waits
  EXPECT_TRUE(to(1).empty());
  EXPECT_EQ(desk.wakeAt(), 2250);
  feed("ANSWERS\t2\t1\r\n", 2200);
  EXPECT_TRUE(to(1).empty());
  wake(2250);
  ASSERT_EQ(to(1).size(), 1u);
  EXPECT_EQ(to(1)[0]["answered"], 2);
  EXPECT_EQ(to(1)[0]["awaited"], 1);
  EXPECT_EQ(to(1)[0]["question"]["timeLeftMs"], 29750);
  feed("HOLD\t1\t1\r\n", 2300);  // not a count: at once
  EXPECT_EQ(to(1)[0]["held"], true);
  feed("RESULTS\t1\t3\r\n1\t1.00\tr\r\n2\t2.00\tw\r\n3\t3.00\tr\r\n", 2400);
  EXPECT_EQ(to(1)[0]["stage"], "between");
  EXPECT_EQ(to(1)[0]["question"], nullptr);
  EXPECT_EQ(to(1)[0]["held"], true);
  feed("END\r\n", 2500);
  EXPECT_EQ(to(1)[0]["stage"], "ended");
}

TEST_F(WebHostDesk, PlayersComeByNumberInPagesOrSearchedAndAgainWhenTheyChange) {
  feed("QOVA ROOM FEED\t1\r\nSETTINGS\t30\t2\t4\r\n", 0);
  std::string joins;
  for (int i = 1; i <= 250; ++i) {
    joins += "JOIN\t" + std::to_string(i) + "\t" + (i % 50 == 0 ? "Zoe " : "P") +
             std::to_string(i) + "\r\n";
  }
  feed(joins, 0);
  desk.pageOpened(1, "10.0.0.5", 0);
  key(1, kKey, 0);
  say(1, R"({"t":"players","from":200})", 10);
  json page = to(1).at(0);
  EXPECT_EQ(page["total"], 250);
  EXPECT_EQ(page["from"], 200);
  ASSERT_EQ(page["rows"].size(), 50u);
  EXPECT_EQ(page["rows"][0], json::parse(R"({"n":201,"name":"P201"})"));
  say(1, R"({"t":"players","from":0,"search":"zOE"})", 20);
  page = to(1).at(0);
  EXPECT_EQ(page["total"], 5);
  EXPECT_EQ(page["search"], "zOE");
  EXPECT_EQ(page["rows"][4], json::parse(R"({"n":250,"name":"Zoe 250"})"));
  // Zoe 100 is removed: the same search comes again with the state.
  feed("REMOVE\t100\r\n", 1000);
  std::vector<json> got = to(1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0]["players"], 249);
  EXPECT_EQ(got[1]["total"], 4);
  EXPECT_EQ(got[1]["search"], "zOE");
}

TEST_F(WebHostDesk, TheNewestOfNineKeyedPagesTakesThePlaceOfTheOldest) {
  openRoom();
  for (PageId p = 1; p <= 9; ++p) {
    desk.pageOpened(p, "10.0.0.5", static_cast<int64_t>(p));
    key(p, kKey, static_cast<int64_t>(p));
    EXPECT_EQ(to(p).at(0)["t"], "state");
  }
  EXPECT_TRUE(closes(1));
  EXPECT_EQ(desk.keyedPages(), kMaxHostPages);
}

TEST(WebHostMessage, MessagesNotOfThePagesFormAreRefused) {
  const char* bad[] = {"",
                       "[]",
                       R"({"t":"key"})",
                       R"({"t":"key","key":5})",
                       R"({"t":"command","do":"start"})",
                       R"({"t":"command","id":-1,"do":"start"})",
                       R"({"t":"command","id":1,"do":"quit"})",
                       R"({"t":"command","id":1,"do":"holdAfterRound"})",
                       R"({"t":"command","id":1,"do":"holdAfterRound","on":1})",
                       R"({"t":"command","id":1,"do":"remove"})",
                       R"({"t":"command","id":1,"do":"remove","player":0})",
                       R"({"t":"command","id":1,"do":"remove","player":1.5})",
                       R"({"t":"players"})",
                       R"({"t":"players","from":-1})",
                       R"({"t":"players","from":0,"search":7})",
                       R"({"t":"join","name":"x"})"};
  for (const char* text : bad) {
    HostRequest r;
    EXPECT_FALSE(parseHostMessage(text, std::strlen(text), &r)) << text;
  }
  std::string big = R"({"t":"players","from":0,"search":")" + std::string(4100, 'a') + "\"}";
  HostRequest r;
  EXPECT_FALSE(parseHostMessage(big.data(), big.size(), &r));
}

}  // namespace
}  // namespace qova::web
