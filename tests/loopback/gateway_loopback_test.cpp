// The gateway between the real quiz engine and WebSocket test pages, all
// over loopback: the engine and the gateway each run on a thread of their
// own, as each would in its own process; the pages are driven from the test.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "server/game_engine.h"
#include "server/lobby.h"
#include "testing/server_test_support.h"
#include "tests/loopback/test_page.h"
#include "web/gateway/gateway.h"

namespace qova::web {
const EmbeddedFiles& testPageFiles();
}

namespace qova {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using nlohmann::json;
using error_code = boost::system::error_code;

using loopback::Page;

// One HTTP request on a fresh connection: status and body; status 0 when the
// connection failed or closed without a response.
std::pair<int, std::string> httpGet(uint16_t port, const std::string& raw) {
  asio::io_context io;
  tcp::socket s(io);
  error_code ec;
  s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
  if (ec) return {0, ""};
  asio::write(s, asio::buffer(raw), ec);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(s, buffer, res, ec);
  if (ec) return {0, ""};
  return {res.result_int(), res.body()};
}

struct WebGatewayTest : ::testing::Test {
  testing::TempDir dir;
  testing::ScriptedShell scripted;
  ServerAppRef app;
  LobbyState lobby;
  GameState game;
  std::thread server;
  std::atomic<bool> start{false}, stop{false};
  std::atomic<int> connected{0};
  std::optional<web::Gateway> gateway;
  std::thread gatewayThread;
  uint16_t port = 0;

  void SetUp() override {
    socketStartup();
    app->shell = scripted.shell();
    app->markerPath = dir.file("hostIP.dat");
    app->resultsFileName = dir.file("endscores.txt");
    app->timeLimitText = "2";
    app->questionsPerRound = 2;
    testing::writeFileBytes(dir.file("q.qdb"), testing::numberedQuestionFile(12, 4));
    ASSERT_EQ(app->questions.load(dir.file("q.qdb")), 12);
    lobby.port = 0;
    lobby.handshakeTimeoutMs = 2000;
    ASSERT_TRUE(beginLobby(*app, lobby));

    web::GatewayOptions o;
    o.serverPort = lobby.listener->localPort();
    o.httpAddress = "127.0.0.1";
    o.httpPort = 0;
    o.files = web::testPageFiles();
    o.links = {"http://192.0.2.1:8080/"};
    o.maxSeats = 6;
    o.httpIdleMs = 500;
    o.pauses = {200, 400};
    gateway.emplace(o);
    std::string error;
    ASSERT_TRUE(gateway->start(&error)) << error;
    port = gateway->httpPort();
    gatewayThread = std::thread([this] { gateway->run(); });

    server = std::thread([this] {
      while (!start) {
        lobbyPass(*app, lobby, 2);
        connected = static_cast<int>(app->clients.size());
      }
      app->lobbyOutcome = kLobbyStart;
      endLobby(*app, lobby);
      while (!stop && gameTick(*app, game)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      shutdownServer(0);
    });
  }
  void TearDown() override {
    stop = true;
    start = true;
    if (server.joinable()) server.join();
    gateway->stop();
    if (gatewayThread.joinable()) gatewayThread.join();
  }

  bool waitConnected(int n) {
    for (int i = 0; i < 500 && connected != n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return connected == n;
  }
};

// The correct response of the test questions: "Question n" has 1 + n % 4.
int correctOf(const json& question) {
  std::string text = question["text"];
  return 1 + std::stoi(text.substr(9)) % 4;
}
int wrongOf(const json& question) { return correctOf(question) % 4 + 1; }

json joinMessage(const std::string& name) { return {{"t", "join"}, {"name", name}}; }

TEST_F(WebGatewayTest, FourPagesPlayTwoRoundsWithResumeTimeOutAndGarbage) {
  Page ann(port), cy(port), dee(port);
  auto boPage = std::make_unique<Page>(port);
  ASSERT_TRUE(ann.open() && boPage->open() && cy.open() && dee.open());
  std::string tokens[4];
  Page* pages[4] = {&ann, boPage.get(), &cy, &dee};
  const char* names[4] = {"Ann", "Bo", "Cy", "Dee"};
  for (int i = 0; i < 4; ++i) {
    pages[i]->send(joinMessage(names[i]));
    std::optional<json> welcome = pages[i]->next();
    ASSERT_TRUE(welcome) << names[i];
    ASSERT_EQ((*welcome)["t"], "welcome") << *welcome;
    EXPECT_EQ((*welcome)["settings"]["timeLimitMs"], 2000);
    EXPECT_EQ((*welcome)["settings"]["responseCount"], 4);
    tokens[i] = (*welcome)["token"];
    EXPECT_EQ(tokens[i].size(), 32u);
    EXPECT_EQ((*pages[i]->next())["t"], "lobby");
    ASSERT_TRUE(waitConnected(i + 1));  // the engine's order is the join order
  }
  // The same name in other letters is taken.
  Page late(port);
  late.send(joinMessage(" ann "));
  std::optional<json> refused = late.next();
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused,
            json::parse("{\"t\":\"refused\",\"message\":\"That name is already taken.\"}"));
  // Garbage closes Dee's page; her seat stays and times out every question.
  dee.send("{\"t\":\"answer\",\"q\":1,\"choice\":\"two\"}");
  EXPECT_FALSE(dee.next(2000));
  EXPECT_FALSE(dee.open());

  start = true;
  std::string annTimes[4], boTimes[4], cyTimes[4];
  for (int q = 1; q <= 4; ++q) {
    Page& bo = *boPage;
    std::optional<json> qa = ann.until("question"), qb = bo.until("question"),
                        qc = cy.until("question");
    ASSERT_TRUE(qa && qb && qc) << "question " << q;
    EXPECT_EQ((*qa)["q"], q);
    EXPECT_EQ((*qa)["round"], (q + 1) / 2);
    EXPECT_EQ((*qa)["number"], (q - 1) % 2 + 1);
    EXPECT_FALSE(qa->contains("correct"));
    ann.send(json{{"t", "answer"}, {"q", q}, {"choice", correctOf(*qa)}});
    if (q == 2) {
      // Bo's phone drops in the middle of the question and comes back.
      bo.drop();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      auto boAgain = std::make_unique<Page>(port);
      Page& bo2 = *boAgain;
      ASSERT_TRUE(bo2.open());
      bo2.send(json{{"t", "resume"}, {"token", tokens[1]}});
      std::optional<json> w = bo2.next();
      ASSERT_TRUE(w);
      EXPECT_EQ((*w)["t"], "welcome");
      std::optional<json> again = bo2.next();
      ASSERT_TRUE(again);
      EXPECT_EQ((*again)["t"], "question");
      EXPECT_EQ((*again)["q"], 2);
      EXPECT_LT((*again)["timeLeftMs"], 1800);
      EXPECT_GT((*again)["timeLeftMs"], 0);
      bo2.send(json{{"t", "answer"}, {"q", 2}, {"choice", wrongOf(*again)}});
      std::optional<json> a = bo2.until("answered");
      ASSERT_TRUE(a);
      EXPECT_EQ((*a)["right"], false);
      EXPECT_EQ((*a)["correct"], correctOf(*again));
      boTimes[1] = (*a)["time"];
      boPage = std::move(boAgain);
    } else {
      bo.send(json{{"t", "answer"}, {"q", q}, {"choice", correctOf(*qb)}});
      std::optional<json> a = bo.until("answered");
      ASSERT_TRUE(a);
      boTimes[q - 1] = (*a)["time"];
    }
    if (q != 1) cy.send(json{{"t", "answer"}, {"q", q}, {"choice", wrongOf(*qc)}});
    std::optional<json> aa = ann.until("answered"), ac = cy.until("answered");
    ASSERT_TRUE(aa && ac);
    EXPECT_EQ((*aa)["right"], true);
    EXPECT_EQ((*ac)["timedOut"], q == 1);
    if (q == 1) {
      EXPECT_EQ((*ac)["time"], "2.00");
    }
    annTimes[q - 1] = (*aa)["time"];
    cyTimes[q - 1] = (*ac)["time"];
    std::optional<json> results = ann.until("results");
    ASSERT_TRUE(results);
    ASSERT_EQ((*results)["rows"].size(), 4u);
    EXPECT_EQ((*results)["me"], 0);
    EXPECT_EQ((*results)["rows"][3]["name"], "Dee");
    EXPECT_EQ((*results)["rows"][3]["time"], "2.00");
    if (q % 2 == 0) {
      std::optional<json> board = cy.until("leaderboard");
      ASSERT_TRUE(board);
      EXPECT_EQ((*board)["round"], q / 2);
      EXPECT_EQ((*board)["rows"][0]["name"], "Ann");
      EXPECT_EQ((*board)["rows"][(*board)["me"].get<int>()]["name"], "Cy");
    }
  }
  // After the start the server admits nobody: the page hears why.
  Page eve(port);
  eve.send(joinMessage("Eve"));
  std::optional<json> begun = eve.next();
  ASSERT_TRUE(begun);
  EXPECT_EQ(*begun, json::parse("{\"t\":\"refused\",\"message\":\"The game has already begun.\"}"));

  stop = true;
  server.join();
  std::optional<json> ended = ann.until("ended");
  ASSERT_TRUE(ended);
  EXPECT_EQ((*ended)["message"], "The quiz server has ended the game.");
  EXPECT_EQ((*ended)["rows"].size(), 4u);
  // Dee's seat ended too; coming back shows her the end.
  Page dee2(port);
  dee2.send(json{{"t", "resume"}, {"token", tokens[3]}});
  EXPECT_EQ((*dee2.next())["t"], "welcome");
  EXPECT_EQ((*dee2.next())["t"], "ended");

  // The engine holds exactly what each seat answered.
  ASSERT_EQ(app->players.size(), 4u);
  std::string expectedVerdicts[4] = {"rrrr", "rwrr", "wwww", "wwww"};
  std::string* times[3] = {annTimes, boTimes, cyTimes};
  for (int p = 0; p < 4; ++p) {
    const PlayerRecord& r = app->players[p];
    EXPECT_EQ(r.name, names[p]);
    ASSERT_GE(r.rounds.size(), 2u);
    std::string verdicts;
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(r.rounds[round].size(), 2u) << names[p];
      for (int k = 0; k < 2; ++k) {
        const Response& resp = r.rounds[round][k];
        verdicts += resp.correct ? 'r' : 'w';
        std::string expected = p < 3 ? times[p][round * 2 + k] : "2.00";
        EXPECT_EQ(resp.timeText, expected) << names[p] << " question " << round * 2 + k + 1;
      }
    }
    EXPECT_EQ(verdicts, expectedVerdicts[p]) << names[p];
  }
  std::string scores = testing::readFileBytes(dir.file("endscores.txt"));
  EXPECT_NE(scores.find("Dee"), std::string::npos);
}

TEST_F(WebGatewayTest, HttpServesThePageAndRefusesTheRest) {
  EXPECT_EQ(
      httpGet(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
      std::make_pair(200, testing::readFileBytes(std::string(QOVA_TESTDATA_DIR) + "/index.html")));
  EXPECT_EQ(httpGet(port, "GET /hello.txt?v=2 HTTP/1.1\r\nHost: x\r\n\r\n").second, "hello\n");
  EXPECT_EQ(httpGet(port, "GET /missing HTTP/1.1\r\nHost: x\r\n\r\n").first, 404);
  EXPECT_EQ(httpGet(port, "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab").first, 405);
  EXPECT_EQ(httpGet(port, "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n").first, 405);
  EXPECT_EQ(httpGet(port, "GET /ws HTTP/1.1\r\nHost: x\r\n\r\n").first, 400);
  std::string huge = "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n";
  EXPECT_EQ(httpGet(port, huge).first, 431);
  EXPECT_EQ(httpGet(port, "NONSENSE\r\n\r\n").first, 0);

  auto info = httpGet(port, "GET /info HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(info.first, 200);
  EXPECT_EQ(json::parse(info.second),
            json::parse("{\"links\":[\"http://192.0.2.1:8080/\"],\"server\":\"127.0.0.1\","
                        "\"seats\":0,\"maxSeats\":6}"));

  // An idle connection is closed by the gateway.
  asio::io_context io;
  tcp::socket idle(io);
  error_code ec;
  idle.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
  ASSERT_FALSE(ec);
  char byte;
  auto before = std::chrono::steady_clock::now();
  idle.read_some(asio::buffer(&byte, 1), ec);
  EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
}

TEST_F(WebGatewayTest, PageMessagesOutOfFormAndRefusedJoins) {
  struct Case {
    const char* name;
    std::string send;
    const char* reply;  // "close": the socket closes; "": no reply, the socket stays
  } cases[] = {
      {"unknown token", "{\"t\":\"resume\",\"token\":\"00000000000000000000000000000000\"}",
       "{\"t\":\"unknown\"}"},
      {"empty name", "{\"t\":\"join\",\"name\":\"  \"}",
       "{\"t\":\"refused\",\"message\":\"Please enter a name.\"}"},
      {"line break", "{\"t\":\"join\",\"name\":\"A\\r\\nB\"}",
       "{\"t\":\"refused\",\"message\":\"A name cannot hold control characters.\"}"},
      {"not in the code page", "{\"t\":\"join\",\"name\":\"\xE4\xB8\xAD\"}",
       "{\"t\":\"refused\",\"message\":\"That name holds characters the quiz cannot show.\"}"},
      {"answer without a seat", "{\"t\":\"answer\",\"q\":1,\"choice\":1}", ""},
      {"not JSON", "hello", "close"},
      {"unknown type", "{\"t\":\"chat\"}", "close"},
      {"too big", "{\"t\":\"join\",\"name\":\"" + std::string(5000, 'a') + "\"}", "close"},
  };
  for (const Case& c : cases) {
    Page page(port);
    ASSERT_TRUE(page.open()) << c.name;
    page.send(c.send);
    std::optional<json> reply = page.next(1000);
    std::string expected = c.reply;
    if (expected == "close" || expected.empty()) {
      EXPECT_FALSE(reply) << c.name << ": " << *reply;
      EXPECT_EQ(page.open(), expected.empty()) << c.name;
    } else {
      ASSERT_TRUE(reply) << c.name;
      EXPECT_EQ(*reply, json::parse(expected)) << c.name;
    }
  }
  // Seats are capped.
  std::vector<std::unique_ptr<Page>> pages;
  for (int i = 0; i < 6; ++i) {
    pages.push_back(std::make_unique<Page>(port));
    pages.back()->send(joinMessage("P" + std::to_string(i)));
    ASSERT_EQ((*pages.back()->next())["t"], "welcome") << i;
  }
  Page seventh(port);
  seventh.send(joinMessage("P7"));
  EXPECT_EQ(*seventh.next(),
            json::parse("{\"t\":\"refused\",\"message\":\"All seats are taken.\"}"));
}

TEST_F(WebGatewayTest, ASeatOutlivesItsPagesAndGoesToTheLatestResume) {
  Page first(port);
  first.send(joinMessage("Ann"));
  std::optional<json> welcome = first.next();
  ASSERT_TRUE(welcome);
  std::string token = (*welcome)["token"];
  ASSERT_EQ((*first.next())["t"], "lobby");
  ASSERT_TRUE(waitConnected(1));

  // A second tab takes the seat; the first one's socket is closed.
  Page second(port);
  second.send(json{{"t", "resume"}, {"token", token}});
  EXPECT_EQ((*second.next())["t"], "welcome");
  EXPECT_EQ((*second.next())["t"], "lobby");
  EXPECT_FALSE(first.next(2000));
  EXPECT_FALSE(first.open());

  // Without any page the seat and its name stay, and the server keeps the player.
  second.drop();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Page other(port);
  other.send(joinMessage("ANN"));
  EXPECT_EQ((*other.next())["message"], "That name is already taken.");
  Page third(port);
  third.send(json{{"t", "resume"}, {"token", token}});
  EXPECT_EQ((*third.next())["t"], "welcome");
  EXPECT_EQ((*third.next())["t"], "lobby");
  EXPECT_EQ(connected, 1);
}

}  // namespace
}  // namespace qova
