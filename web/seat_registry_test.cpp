// The gateway's decisions with scripted pages and servers: no sockets, the
// time given by the test.
#include "web/seat_registry.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

namespace qova::web {
namespace {

using nlohmann::json;

const char kSettings[] = "30\r\n2\r\n4\r\n";
const char kQuestion[] = "Q?\r\na\r\nb\r\nc\r\nd\r\n2\r\n";

struct WebSeatRegistry : ::testing::Test {
  int tokens = 0;
  SeatRegistry registry{RegistryOptions{3, 2, 1000, SeatPauses{}}, [this] {
                          char t[33];
                          std::snprintf(t, sizeof t, "%032x", ++tokens);
                          return std::string(t);
                        }};
  RegistryActions out;

  RegistryActions& page(PageId id, const PageRequest& r, int64_t now = 0) {
    out = RegistryActions();
    registry.pageMessage(id, r, now, &out);
    return out;
  }
  RegistryActions& join(PageId id, const std::string& name, int64_t now = 0) {
    PageRequest r;
    r.kind = PageRequest::kJoin;
    r.name = name;
    return page(id, r, now);
  }
  RegistryActions& resume(PageId id, const std::string& token, int64_t now = 0) {
    PageRequest r;
    r.kind = PageRequest::kResume;
    r.token = token;
    return page(id, r, now);
  }
  RegistryActions& server(SeatId seat, const std::string& bytes, int64_t now = 0) {
    out = RegistryActions();
    registry.serverBytes(seat, bytes.data(), bytes.size(), now, &out);
    return out;
  }
  RegistryActions& closed(PageId id, int64_t now = 0) {
    out = RegistryActions();
    registry.pageClosed(id, now, &out);
    return out;
  }
  // "page:type" for every page message of the last step.
  std::vector<std::string> sent() const {
    std::vector<std::string> list;
    for (const auto& p : out.toPages) {
      list.push_back(std::to_string(p.page) + ":" +
                     json::parse(p.text.str())["t"].get<std::string>());
    }
    return list;
  }
  std::string refusal() const {
    if (out.toPages.size() != 1) return "(" + std::to_string(out.toPages.size()) + " messages)";
    json j = json::parse(out.toPages[0].text.str());
    return j["t"] == "refused" ? j["message"].get<std::string>() : "(" + j.dump() + ")";
  }
  // A seat for `id` that the server has welcomed; its id.
  SeatId seated(PageId id, const std::string& name, const std::string& address = "10.0.0.1",
                int64_t now = 0) {
    registry.pageOpened(id, address);
    join(id, name, now);
    EXPECT_EQ(out.connect.size(), 1u) << name;
    SeatId seat = out.connect.empty() ? 0 : out.connect[0];
    server(seat, kSettings, now);
    return seat;
  }
};

TEST_F(WebSeatRegistry, JoinsAreCheckedForNameCapAndRate) {
  struct Step {
    PageId page;
    const char* address;
    const char* name;
    int64_t now;
    const char* refused;  // nullptr: a seat is made
  } steps[] = {
      {1, "10.0.0.1", "Ann", 0, nullptr},
      {2, "10.0.0.2", " aNN ", 0, "That name is already taken."},
      {3, "10.0.0.2", "", 0, "Please enter a name."},
      {4, "10.0.0.1", "Bo", 10, nullptr},
      {5, "10.0.0.1", "Cy", 20,
       "Too many players are joining from this address; please try again."},
      {5, "10.0.0.1", "Cy", 1000, nullptr},  // a new second
      {6, "10.0.0.3", "Di", 1000, "All seats are taken."},
      {1, "10.0.0.1", "Eve", 1000, "This page already has a seat."},
  };
  std::set<PageId> open;
  for (const Step& s : steps) {
    if (open.insert(s.page).second) registry.pageOpened(s.page, s.address);
    join(s.page, s.name, s.now);
    if (s.refused) {
      EXPECT_EQ(refusal(), s.refused) << s.name;
      EXPECT_TRUE(out.connect.empty()) << s.name;
    } else {
      EXPECT_TRUE(out.toPages.empty()) << s.name;  // nothing before the server's settings
      EXPECT_EQ(out.connect.size(), 1u) << s.name;
    }
  }
  EXPECT_EQ(registry.seatCount(), 3u);
  EXPECT_EQ(registry.seatNames(), (std::vector<std::string>{"Ann", "Bo", "Cy"}));
}

TEST_F(WebSeatRegistry, ARefusedJoinNeverBecomesASeat) {
  struct Case {
    ServerEnd how;
    bool otherSeatHasSeenAQuestion;
    const char* message;
  } cases[] = {
      {ServerEnd::kRefused, false, "The quiz server cannot be reached."},
      {ServerEnd::kRefused, true, "The game has already begun."},
  };
  PageId next = 10;
  int64_t now = 0;
  for (const Case& c : cases) {
    now += 1000;  // joins of another second
    SeatId playing = 0;
    if (c.otherSeatHasSeenAQuestion) {
      playing = seated(next++, "Playing", "10.0.0.1", now);
      server(playing, kQuestion, now);
    }
    PageId p = next++;
    registry.pageOpened(p, "10.0.0.9");
    join(p, "Zed", now);
    SeatId seat = out.connect.at(0);
    out = RegistryActions();
    registry.serverEnded(seat, c.how, &out);
    EXPECT_EQ(refusal(), c.message);
    EXPECT_EQ(out.forget, std::vector<SeatId>{seat});
    EXPECT_EQ(out.log.back(), "Seat ended: Zed (no seat was granted)");
    // The name is free and the page may try again.
    join(p, "zed", now);
    EXPECT_EQ(out.connect.size(), 1u);
    if (playing) {
      out = RegistryActions();
      registry.serverEnded(playing, ServerEnd::kClosed, &out);
    }
    registry.pageClosed(p, 0, &out);
  }
}

TEST_F(WebSeatRegistry, AResumeTakesTheSeatFromAnotherTab) {
  SeatId seat = seated(1, "Ann");
  EXPECT_EQ(sent(), (std::vector<std::string>{"1:welcome", "1:lobby"}));
  std::string token = json::parse(out.toPages[0].text.str())["token"];
  registry.pageOpened(2, "10.0.0.7");
  resume(2, "ffffffffffffffffffffffffffffffff");
  EXPECT_EQ(sent(), std::vector<std::string>{"2:unknown"});
  resume(2, token);
  EXPECT_EQ(out.closePages, std::vector<PageId>{1});
  EXPECT_EQ(sent(), (std::vector<std::string>{"2:welcome", "2:lobby"}));
  // The old tab is gone: its close changes nothing, the seat plays on page 2.
  closed(1);
  EXPECT_TRUE(out.rearm.empty() && out.forget.empty());
  server(seat, kQuestion, 50);
  EXPECT_EQ(sent(), std::vector<std::string>{"2:question"});
  // A page that leaves keeps the seat; the page back later gets the state.
  closed(2, 100);
  registry.pageOpened(3, "10.0.0.7");
  resume(3, token, 200);
  EXPECT_EQ(sent(), (std::vector<std::string>{"3:welcome", "3:question"}));
  EXPECT_EQ(registry.seatCount(), 1u);
}

TEST_F(WebSeatRegistry, APageThatLeavesBeforeItsWelcomeGivesUpItsSeat) {
  registry.pageOpened(1, "10.0.0.1");
  join(1, "Ann");
  SeatId seat = out.connect.at(0);
  closed(1);
  EXPECT_EQ(out.forget, std::vector<SeatId>{seat});
  EXPECT_EQ(registry.seatCount(), 0u);
  EXPECT_FALSE(registry.readsServer(seat));
  EXPECT_EQ(seated(2, "ann"), seat + 1);  // the name is free again
}

TEST_F(WebSeatRegistry, AnEndedSeatIsForgottenAWhileAfterItsPageLeft) {
  SeatId seat = seated(1, "Ann");
  std::string token = json::parse(out.toPages[0].text.str())["token"];
  out = RegistryActions();
  registry.serverEnded(seat, ServerEnd::kClosed, &out);
  EXPECT_EQ(sent(), std::vector<std::string>{"1:ended"});
  EXPECT_EQ(out.closeServers, std::vector<SeatId>{seat});
  EXPECT_EQ(out.log, std::vector<std::string>{"Seat ended: Ann"});
  EXPECT_EQ(registry.seatCount(), 0u);
  EXPECT_EQ(registry.wakeAt(seat), -1);  // its page still shows the end
  closed(1, 5000);
  EXPECT_EQ(registry.wakeAt(seat), 6000);
  // A page coming back in time sees the end.
  registry.pageOpened(2, "10.0.0.1");
  resume(2, token, 5500);
  EXPECT_EQ(sent(), (std::vector<std::string>{"2:welcome", "2:ended"}));
  closed(2, 5600);
  out = RegistryActions();
  registry.wake(seat, 6599, &out);
  EXPECT_TRUE(out.forget.empty());
  registry.wake(seat, 6600, &out);
  EXPECT_EQ(out.forget, std::vector<SeatId>{seat});
  registry.pageOpened(3, "10.0.0.1");
  resume(3, token, 7000);
  EXPECT_EQ(sent(), std::vector<std::string>{"3:unknown"});
}

TEST_F(WebSeatRegistry, AnswersGoToTheServerAndAnImpossibleOneClosesThePage) {
  SeatId seat = seated(1, "Ann");
  server(seat, kQuestion, 1000);
  PageRequest answer;
  answer.kind = PageRequest::kAnswer;
  answer.q = 1;
  answer.choice = 9;  // four responses only
  page(1, answer, 1500);
  EXPECT_EQ(out.closePages, std::vector<PageId>{1});
  EXPECT_EQ(out.rearm.back(), seat);  // the seat now waits without a page
  EXPECT_TRUE(out.toServers.empty());
  registry.pageOpened(2, "10.0.0.1");
  page(2, answer, 1600);  // a page without a seat: nothing to answer for
  EXPECT_TRUE(out.toServers.empty() && out.closePages.empty());
  std::string token = "00000000000000000000000000000001";
  resume(2, token, 1700);
  answer.choice = 2;
  page(2, answer, 2000);
  ASSERT_EQ(out.toServers.size(), 1u);
  EXPECT_EQ(out.toServers[0].bytes, "1.00\r\nr");
}

}  // namespace
}  // namespace qova::web

namespace qova::web {
namespace {

// A rows request goes to the page's own seat; a page without a seat gets
// nothing.
TEST_F(WebSeatRegistry, RowsRequestsGoToThePagesSeat) {
  PageRequest rows;
  rows.kind = PageRequest::kRows;
  rows.from = 0;
  registry.pageOpened(9, "10.0.0.9");
  page(9, rows);
  EXPECT_TRUE(out.toPages.empty());
  SeatId seat = seated(1, "Ann");
  server(seat, kQuestion);
  PageRequest answer;
  answer.kind = PageRequest::kAnswer;
  answer.q = 1;
  answer.choice = 2;
  page(1, answer, 100);
  server(seat, "Bo\r\n1.00\r\nr\r\nAnn\r\n0.10\r\nr\r\n\r\n", 200);
  page(1, rows, 300);
  ASSERT_EQ(sent(), std::vector<std::string>{"1:rows"});
  json j = json::parse(out.toPages[0].text.str());
  EXPECT_EQ(j["total"], 2);
  EXPECT_EQ(j["me"], 1);
}

}  // namespace
}  // namespace qova::web
