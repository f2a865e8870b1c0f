// The fixture of the QOVAHOST end-to-end tests: the real server runs in a
// fresh working folder with its own config.ini and question file; a test
// answers its message boxes, presses its buttons, reads its controls and
// plays with player clients over loopback on port 5632. The marker file lives
// on S:, which the harness maps to a temporary folder.
#pragma once

#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>  // before windows.h, which the player headers need
#include <windows.h>
// clang-format on

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "net/net.h"
#include "player/player_client.h"
#include "tests/driver/driver.h"

namespace qova {

inline constexpr DWORD kWaitMs = 15000;
inline constexpr int kPlayerWaitMs = 15000;
inline const char kMarkerFolder[] = "S:\\Zelk9\\HostIP";
inline const char kMarker[] = "S:\\Zelk9\\HostIP\\hostIP.dat";
inline const char kLobbyCaption[] = "Waiting for Clients...";

// True when something on this computer takes connections on `port` of
// 127.0.0.1 (a connect that does not come back refused within 2 s).
inline bool portTaken(uint16_t port) {
  std::string error;
  SocketHandle s = startConnect("127.0.0.1", port, &error);
  if (s == kNoSocket) return false;
  PollEntry e;
  e.handle = s;
  e.wantWrite = true;
  // No answer within the time counts as taken: a listener whose queue is
  // full (under Wine, one a server ended from outside left bound) holds the
  // port as much as a live one does.
  int ready = pollSockets(&e, 1, 2000);
  bool taken = ready == 0 || (ready > 0 && finishConnect(s, &error));
  closeSocket(s);
  return taken;
}

// Ends a server that still runs with its own Quit (the lobby's or the
// Statistics window's, both command 1001), and from outside only when that
// has not ended it within 5 s: under Wine a server ended from outside can
// leave its room feed's listener bound, which keeps the feed from every later
// server.
inline void quitHost(driver::Child* host) {
  driver::quitProgram(host, {kLobbyCaption, "Statistics"}, 1001, 5000);
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startSockets());
    // A server of an earlier test that still holds the ports would take this
    // test's players or feed client: say so rather than fail obscurely.
    for (uint16_t port : {uint16_t{5632}, uint16_t{5633}}) {
      ASSERT_TRUE(driver::waitUntil([&] { return !portTaken(port); }, kWaitMs))
          << "port " << port << " is still taken by an earlier program";
    }
    CreateDirectoryA("S:\\Zelk9", nullptr);
    CreateDirectoryA(kMarkerFolder, nullptr);
    DeleteFileA(kMarker);
  }

  void TearDown() override {
    players_.clear();
    for (driver::Child& host : hosts_) quitHost(&host);
    DeleteFileA(kMarker);
  }

  // Writes config.ini (unless `config` is null) and questions.qdb.
  void prepare(const testing::TempDir& folder, const char* config, int records) {
    if (config != nullptr) {
      ASSERT_TRUE(testing::writeFileBytes(folder.file("config.ini"), config));
    }
    ASSERT_TRUE(testing::writeFileBytes(folder.file("questions.qdb"),
                                        testing::numberedQuestionFile(records)));
  }

  driver::Child& startHost(const testing::TempDir& folder) {
    hosts_.emplace_back();
    EXPECT_TRUE(driver::startProgram(QOVAHOST_EXE, folder.path(), &hosts_.back()));
    return hosts_.back();
  }

  // The lobby window once it is set up: the count is shown last, after the
  // address and the marker.
  HWND findLobby(const driver::Child& host) {
    HWND lobby = driver::findTopWindow(kLobbyCaption, kWaitMs, host.id, "#32770");
    EXPECT_NE(lobby, nullptr);
    EXPECT_TRUE(driver::waitUntil([&] { return !driver::itemText(lobby, 1002).empty(); }, kWaitMs));
    return lobby;
  }

  // Expects a message box with this caption and text, checks its icon and
  // presses `button`.
  void expectBox(const driver::Child& host, const std::string& caption, const std::string& text,
                 bool icon, int button) {
    HWND box = driver::findMessageBox(caption, kWaitMs, host.id);
    ASSERT_NE(box, nullptr) << "no \"" << caption << "\" box for: " << text;
    EXPECT_EQ(driver::messageBoxText(box), text);
    EXPECT_EQ(driver::messageBoxHasIcon(box), icon) << text;
    EXPECT_TRUE(driver::answer(box, button));
  }

  int exitCode(const driver::Child& host) {
    DWORD code = 12345;
    EXPECT_TRUE(driver::waitForExit(host, kWaitMs, &code));
    return static_cast<int>(code);
  }

  // Connects a player and waits until the server has its name. The lobby
  // window shows a moment before the server listens, so a refused connection
  // is tried again.
  PlayerClient& join(const std::string& name) {
    players_.push_back(std::make_unique<PlayerClient>());
    std::unique_ptr<PlayerClient>& player = players_.back();
    DWORD start = GetTickCount();
    for (;;) {
      EXPECT_TRUE(player->connect("127.0.0.1", 5632, name));
      ClientEvent event = player->waitFor(ClientEvent::kSettings, kPlayerWaitMs);
      if (event != ClientEvent::kConnectFailed || GetTickCount() - start > kWaitMs) {
        EXPECT_EQ(event, ClientEvent::kSettings) << player->error();
        return *player;
      }
      Sleep(100);
      player = std::make_unique<PlayerClient>();
    }
  }

  // Lets every player send what it has queued.
  void pumpPlayers() {
    std::vector<ClientEvent> events;
    for (auto& player : players_) player->step(0, &events);
  }

  bool countShows(HWND lobby, const std::string& count) {
    return driver::waitUntil(
        [&] {
          pumpPlayers();
          return driver::itemText(lobby, 1002) == count;
        },
        kWaitMs);
  }

  std::deque<driver::Child> hosts_;  // stable references as hosts are added
  std::vector<std::unique_ptr<PlayerClient>> players_;
};

}  // namespace qova
