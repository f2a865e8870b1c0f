// The gateway's decisions with scripted pages and servers: no sockets, the
// time given by the test.
#include "web/seat/seat_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

namespace qova::web {
namespace {

using nlohmann::json;

const char kSettings[] = "30\r\n2\r\n4\r\n";
const char kQuestion[] = "Q?\r\na\r\nb\r\nc\r\nd\r\n2\r\n";

struct WebSeatRegistry : ::testing::Test {
  int tokens = 0;
  static RegistryOptions options() {
    RegistryOptions o;
    o.maxSeats = 3;
    o.joinsPerAddressPerSecond = 2;
    o.endedSeatKeepMs = 1000;
    return o;
  }
  SeatRegistry registry{options(), [this] {
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
    registry.pageOpened(id, address, 0);
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
    if (open.insert(s.page).second) registry.pageOpened(s.page, s.address, 0);
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
    registry.pageOpened(p, "10.0.0.9", 0);
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
  registry.pageOpened(2, "10.0.0.7", 0);
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
  registry.pageOpened(3, "10.0.0.7", 0);
  resume(3, token, 200);
  EXPECT_EQ(sent(), (std::vector<std::string>{"3:welcome", "3:question"}));
  EXPECT_EQ(registry.seatCount(), 1u);
}

TEST_F(WebSeatRegistry, APageThatLeavesBeforeItsWelcomeGivesUpItsSeat) {
  registry.pageOpened(1, "10.0.0.1", 0);
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
  registry.pageOpened(2, "10.0.0.1", 0);
  resume(2, token, 5500);
  EXPECT_EQ(sent(), (std::vector<std::string>{"2:welcome", "2:ended"}));
  closed(2, 5600);
  out = RegistryActions();
  registry.wake(seat, 6599, &out);
  EXPECT_TRUE(out.forget.empty());
  registry.wake(seat, 6600, &out);
  EXPECT_EQ(out.forget, std::vector<SeatId>{seat});
  registry.pageOpened(3, "10.0.0.1", 0);
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
  registry.pageOpened(2, "10.0.0.1", 0);
  page(2, answer, 1600);  // a page without a seat: nothing to answer for
  EXPECT_TRUE(out.toServers.empty() && out.closePages.empty());
  std::string token = "00000000000000000000000000000001";
  resume(2, token, 1700);
  answer.choice = 2;
  page(2, answer, 2000);
  ASSERT_EQ(out.toServers.size(), 1u);
  EXPECT_EQ(out.toServers[0].bytes, "1.00\r\nr");
}

TEST(WebSeatRegistryBounds, PerAddressSeatsConnectionsAndTheResumeReserve) {
  RegistryOptions o;
  o.maxSeats = 100;
  o.joinsPerAddressPerSecond = 100;
  o.seatsPerAddress = 2;
  o.connectionsPerAddress = 3;
  o.maxConnections = 6;
  o.reservedForResume = 2;
  int tokens = 0;
  SeatRegistry registry(o,
                        [&] { return std::to_string(100000 + ++tokens) + std::string(25, '0'); });
  using A = SeatRegistry::Admit;
  struct Step {
    const char* address;
    A admit;
  } steps[] = {
      {"10.0.0.1", A::kOpen},
      {"10.0.0.1", A::kOpen},
      {"10.0.0.1", A::kOpen},
      {"10.0.0.1", A::kRefused},  // its own bound
      {"10.0.0.2", A::kOpen},
      {"10.0.0.3", A::kResumeOnly},  // the last two below the cap are
                                     // kept
      {"10.0.0.4", A::kResumeOnly},
      {"10.0.0.5", A::kRefused},  // the cap
  };
  for (const Step& s : steps) EXPECT_EQ(registry.connectionOpened(s.address), s.admit) << s.address;
  registry.connectionClosed("10.0.0.1");
  EXPECT_EQ(registry.connectionOpened("10.0.0.5"), A::kResumeOnly);
  EXPECT_EQ(registry.connectionCount(), 6u);

  // Seats per address: two from 10.0.0.1, then refused; an ended seat frees its place.
  RegistryActions out;
  std::vector<SeatId> seats;
  for (PageId p = 1; p <= 3; ++p) {
    registry.pageOpened(p, "10.0.0.1", 0);
    PageRequest r;
    r.kind = PageRequest::kJoin;
    r.name = "P" + std::to_string(p);
    out = RegistryActions();
    registry.pageMessage(p, r, 0, &out);
    if (p <= 2) {
      ASSERT_EQ(out.connect.size(), 1u);
      seats.push_back(out.connect[0]);
      std::string settings = "30\r\n2\r\n4\r\n";
      registry.serverBytes(seats.back(), settings.data(), settings.size(), 0, &out);
    } else {
      ASSERT_EQ(out.toPages.size(), 1u);
      EXPECT_EQ(nlohmann::json::parse(out.toPages[0].text.str())["message"],
                "This address already holds 2 seats; no more can join from it.");
    }
  }
  registry.serverEnded(seats[0], ServerEnd::kClosed, &out);
  PageRequest again;
  again.kind = PageRequest::kJoin;
  again.name = "P3";
  out = RegistryActions();
  registry.pageMessage(3, again, 0, &out);
  EXPECT_EQ(out.connect.size(), 1u);

  // A page on a reserved connection may only resume: a join closes it, a
  // resume of a known seat is served.
  registry.pageOpened(10, "10.0.0.2", 0, true);
  out = RegistryActions();
  PageRequest join;
  join.kind = PageRequest::kJoin;
  join.name = "Squat";
  registry.pageMessage(10, join, 0, &out);
  EXPECT_EQ(out.closePages, std::vector<PageId>{10});
  EXPECT_TRUE(out.connect.empty());
  registry.pageOpened(11, "10.0.0.3", 0, true);
  out = RegistryActions();
  PageRequest resume;
  resume.kind = PageRequest::kResume;
  resume.token = std::to_string(100002) + std::string(25, '0');
  registry.pageMessage(11, resume, 0, &out);
  EXPECT_EQ(out.closePages, std::vector<PageId>{2});  // the tab that held it
  ASSERT_FALSE(out.toPages.empty());
  EXPECT_EQ(nlohmann::json::parse(out.toPages[0].text.str())["t"], "welcome");
}

TEST(WebSeatRegistryBounds, PagesWithoutASeatCloseAfterAWhile) {
  RegistryOptions o;
  o.unseatedPageMs = 30000;
  SeatRegistry registry(o, [] { return std::string(32, 'a'); });
  struct Case {
    PageId page;
    bool joins;
    int64_t openedAt;
    bool closedAt40s;
  } cases[] = {
      {1, false, 0, true},       // never joined
      {2, false, 15000, false},  // not yet 30 s
      {3, true, 0, false},       // holds a seat
  };
  RegistryActions out;
  for (const Case& c : cases) {
    registry.pageOpened(c.page, "10.0.0." + std::to_string(c.page), c.openedAt);
    if (c.joins) {
      PageRequest r;
      r.kind = PageRequest::kJoin;
      r.name = "Ann";
      registry.pageMessage(c.page, r, c.openedAt, &out);
    }
  }
  out = RegistryActions();
  registry.expirePages(40000, &out);
  for (const Case& c : cases) {
    bool closed = std::count(out.closePages.begin(), out.closePages.end(), c.page) > 0;
    EXPECT_EQ(closed, c.closedAt40s) << c.page;
  }
  out = RegistryActions();
  registry.expirePages(45000, &out);
  EXPECT_EQ(out.closePages, std::vector<PageId>{2});
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
  registry.pageOpened(9, "10.0.0.9", 0);
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

namespace qova::web {
namespace {

// The host page's key tries: a wrong key bars its address for a second.
TEST(WebSeatRegistryBounds, AWrongHostKeyBarsItsAddressForASecond) {
  SeatRegistry registry(RegistryOptions(), [] { return std::string(); });
  EXPECT_TRUE(registry.hostKeyTryAllowed("10.0.0.1", 0));
  registry.hostKeyWrong("10.0.0.1", 5000);
  EXPECT_FALSE(registry.hostKeyTryAllowed("10.0.0.1", 5000));
  EXPECT_FALSE(registry.hostKeyTryAllowed("10.0.0.1", 5999));
  EXPECT_TRUE(registry.hostKeyTryAllowed("10.0.0.2", 5500));
  EXPECT_TRUE(registry.hostKeyTryAllowed("10.0.0.1", 6000));
}

}  // namespace
}  // namespace qova::web
