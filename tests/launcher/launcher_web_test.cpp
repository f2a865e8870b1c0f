// The launcher with the real server and the real web players' gateway in its
// Bin folder: Begin starts both, a phone joins through the gateway, and the
// server's end closes the gateway the launcher started before the launcher
// shows again.
// Asio brings winsock2.h, which must come before windows.h (gtest's too).
// clang-format off
#include "tests/web_win/web_page.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <string>

#include "testing/test_qdb_file.h"
#include "launcher/gateway_child.h"
#include "net/net.h"
#include "player/player_client.h"
#include "tests/launcher/launcher_fixture.h"
#include "web/win/resource.h"

namespace qova {
namespace {

using driver::clickLater;
using driver::findTopWindow;
using driver::isVisible;
using driver::item;
using driver::itemText;
using driver::waitUntil;

const char kMarkerFolder[] = "S:\\Zelk9\\HostIP";
const char kMarker[] = "S:\\Zelk9\\HostIP\\hostIP.dat";
const char kGatewayCaption[] = "QOVA Web Players";

// A process to watch: its id and a handle that can wait and read the exit code.
struct Watched {
  Watched() = default;
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;
  ~Watched() {
    if (process != nullptr) CloseHandle(process);
  }
  DWORD id = 0;
  HANDLE process = nullptr;
  bool ended(DWORD timeoutMs, DWORD* code) const {
    return process != nullptr && WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process, code);
  }
};

// How many processes run the program file `exe` (a full path).
int processCount(const std::string& exe) {
  int count = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    char image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(process, 0, image, &size) &&
        lstrcmpiA(image, exe.c_str()) == 0) {
      ++count;
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return count;
}

class LauncherWebTest : public LauncherFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startSockets());
    setMarkerFolder(true);
  }

  void TearDown() override {
    LauncherFixture::TearDown();
    setMarkerFolder(true);
  }

  // With the folder the server announces itself in S:, or without it; never
  // a marker left from before.
  void setMarkerFolder(bool present) {
    DeleteFileA(kMarker);
    if (present) {
      CreateDirectoryA("S:\\Zelk9", nullptr);
      CreateDirectoryA(kMarkerFolder, nullptr);
    } else {
      RemoveDirectoryA(kMarkerFolder);
    }
  }

  // The package in a fresh working folder: the server, the gateway when
  // asked, and a question database for rounds of two.
  void installPackage(bool withGateway) {
    freshFolder();
    installChild(QOVAHOST_EXE, "QOVAHOST.exe");
    if (withGateway) installChild(QOVAWEB_EXE, "QOVAWEB.exe");
    ASSERT_TRUE(testing::writeFileBytes(file("questions.qdb"), testing::numberedQuestionFile(4)));
  }

  // Starts the launcher, fills it in and presses Begin; the launcher's dialog.
  HWND begin(const std::string& database = "questions.qdb") {
    HWND dialog = startLauncher();
    if (dialog == nullptr) return nullptr;
    EXPECT_TRUE(driver::setItemText(dialog, 1002, "30"));
    EXPECT_TRUE(driver::setItemText(dialog, 1007, "2"));
    EXPECT_TRUE(driver::setItemText(dialog, 1006, database));
    EXPECT_TRUE(clickLater(item(dialog, 1000)));
    return dialog;
  }

  // The process started from Bin\<name> in the working folder.
  void watch(const char* name, Watched* watched) {
    watched->id = driver::findProcess(file(std::string("Bin\\") + name), kWaitMs);
    if (watched->id != 0) {
      watched->process =
          OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, watched->id);
    }
  }

  // The server's lobby once it shows the count (the marker is written then).
  HWND lobbyOf(const Watched& server) {
    HWND lobby = findTopWindow("Waiting for Clients...", kWaitMs, server.id, "#32770");
    EXPECT_NE(lobby, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !itemText(lobby, 1002).empty(); }, kWaitMs));
    return lobby;
  }

  // The launcher shows again, and only once `gateway` (when given) has ended,
  // having closed itself (exit code 0), not been ended.
  void expectLauncherBack(HWND dialog, const Watched* gateway) {
    EXPECT_TRUE(waitUntil([&] { return isVisible(dialog); }, kWaitMs + kGatewayCloseGraceMs));
    if (gateway != nullptr) {
      DWORD code = 1234;
      EXPECT_TRUE(gateway->ended(0, &code)) << "the gateway still runs beside the launcher";
      EXPECT_EQ(code, 0u);
    }
    EXPECT_EQ(driver::findMessageBox("Error", 0, launcher_.id), nullptr);
  }
};

// The room's path: Begin, a phone joins, the game starts, Quit in Statistics.
TEST_F(LauncherWebTest, BeginStartsTheGatewayAndTheServersEndClosesIt) {
  struct Case {
    const char* name;
    bool markerFolder;
    std::string status;  // in the gateway's status line once it runs
  };
  const Case cases[] = {
      {"the server announces itself on S:", true, "(port 5632, from the server's marker file)."},
      {"no marker folder: the gateway plays on this machine", false, "at 127.0.0.1 (port 5632)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installPackage(/*withGateway=*/true);
    setMarkerFolder(c.markerFolder);
    HWND dialog = begin();
    ASSERT_NE(dialog, nullptr);

    Watched server;
    watch("QOVAHOST.exe", &server);
    ASSERT_NE(server.process, nullptr);
    HWND lobby = lobbyOf(server);
    ASSERT_NE(lobby, nullptr);
    Watched gateway;
    watch("QOVAWEB.exe", &gateway);
    ASSERT_NE(gateway.process, nullptr);
    HWND window = findTopWindow(kGatewayCaption, kWaitMs, gateway.id, "#32770");
    ASSERT_NE(window, nullptr);
    // Found as soon as it is made; shown a moment later.
    EXPECT_TRUE(waitUntil([&] { return isVisible(window) && isVisible(lobby); }, kWaitMs));
    ASSERT_TRUE(waitUntil(
        [&] { return itemText(window, IDC_WEB_STATUS).rfind("Running.", 0) == 0; }, kWaitMs))
        << itemText(window, IDC_WEB_STATUS);
    EXPECT_NE(itemText(window, IDC_WEB_STATUS).find(c.status), std::string::npos)
        << itemText(window, IDC_WEB_STATUS);
    EXPECT_FALSE(isVisible(dialog));

    Page page;
    ASSERT_TRUE(page.open(8080));
    ASSERT_TRUE(page.send({{"t", "join"}, {"name", "Webby"}}));
    nlohmann::json welcome = page.waitFor("welcome");
    ASSERT_TRUE(welcome.is_object());
    EXPECT_EQ(welcome["settings"]["questionsPerRound"], 2);
    ASSERT_TRUE(page.waitFor("lobby").is_object());
    ASSERT_TRUE(waitUntil([&] { return itemText(lobby, 1002) == "1"; }, kWaitMs));
    ASSERT_TRUE(waitUntil([&] { return itemText(window, IDC_WEB_COUNT) == "1"; }, kWaitMs));

    ASSERT_TRUE(clickLater(item(lobby, 1000)));
    HWND stats = findTopWindow("Statistics", kWaitMs, server.id, "#32770");
    ASSERT_NE(stats, nullptr);
    ASSERT_TRUE(page.waitFor("question").is_object());

    // Quit in Statistics: the server ends, and the gateway, which still held
    // a seat a moment ago, closes without asking.
    ASSERT_TRUE(clickLater(item(stats, 1001)));
    DWORD code = 1234;
    EXPECT_TRUE(server.ended(kWaitMs, &code));
    expectLauncherBack(dialog, &gateway);
    EXPECT_EQ(driver::findMessageBox("Notice", 0, gateway.id), nullptr);
    quitLauncher(dialog);
  }
}

TEST_F(LauncherWebTest, WithoutTheGatewayInThePackageTheServerStartsAlone) {
  installPackage(/*withGateway=*/false);
  HWND dialog = begin();
  ASSERT_NE(dialog, nullptr);
  Watched server;
  watch("QOVAHOST.exe", &server);
  HWND lobby = lobbyOf(server);
  ASSERT_NE(lobby, nullptr);
  EXPECT_FALSE(isVisible(dialog));
  EXPECT_EQ(findTopWindow(kGatewayCaption, 2000), nullptr);
  EXPECT_EQ(driver::findMessageBox("Error", 0, launcher_.id), nullptr);

  ASSERT_TRUE(clickLater(item(lobby, 1001)));  // the lobby's Quit
  DWORD code = 1234;
  EXPECT_TRUE(server.ended(kWaitMs, &code));
  expectLauncherBack(dialog, nullptr);
  quitLauncher(dialog);
}

// Another program has the players' port: the gateway says so in its own box,
// the server starts and admits players all the same, and the gateway is
// closed with its box still open when the server ends.
TEST_F(LauncherWebTest, WithThePlayersPortTakenTheServerStillStarts) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor taken(io);
  boost::system::error_code ec;
  taken.open(boost::asio::ip::tcp::v4(), ec);
  taken.bind({boost::asio::ip::tcp::v4(), 8080}, ec);
  taken.listen(1, ec);
  ASSERT_FALSE(ec) << ec.message();

  installPackage(/*withGateway=*/true);
  HWND dialog = begin();
  ASSERT_NE(dialog, nullptr);
  Watched server;
  watch("QOVAHOST.exe", &server);
  HWND lobby = lobbyOf(server);
  ASSERT_NE(lobby, nullptr);
  Watched gateway;
  watch("QOVAWEB.exe", &gateway);
  HWND box = driver::findMessageBox("Error", kWaitMs, gateway.id);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::messageBoxText(box).rfind("Port 8080 cannot be listened on (", 0), 0u)
      << driver::messageBoxText(box);

  PlayerClient ann;
  ASSERT_TRUE(ann.connect("127.0.0.1", 5632, "Ann"));
  ASSERT_EQ(ann.waitFor(ClientEvent::kSettings, kWaitMs), ClientEvent::kSettings);
  ASSERT_TRUE(waitUntil(
      [&] {
        std::vector<ClientEvent> events;
        ann.step(0, &events);
        return itemText(lobby, 1002) == "1";
      },
      kWaitMs));

  ASSERT_TRUE(clickLater(item(lobby, 1001)));
  DWORD code = 1234;
  EXPECT_TRUE(server.ended(kWaitMs, &code));
  expectLauncherBack(dialog, &gateway);
  quitLauncher(dialog);
}

// A server that fails at once: its gateway is closed all the same, however
// far it had come.
TEST_F(LauncherWebTest, AServerThatFailsAtOnceHasItsGatewayClosedToo) {
  installPackage(/*withGateway=*/true);
  HWND dialog = begin(/*database=*/"");
  ASSERT_NE(dialog, nullptr);
  Watched server;
  watch("QOVAHOST.exe", &server);
  Watched gateway;
  watch("QOVAWEB.exe", &gateway);
  ASSERT_NE(gateway.process, nullptr);
  HWND box = driver::findMessageBox("Error", kWaitMs, server.id);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(driver::messageBoxText(box), "Error loading questions.");
  EXPECT_TRUE(driver::answer(box, IDOK));
  DWORD code = 1234;
  EXPECT_TRUE(server.ended(kWaitMs, &code));
  expectLauncherBack(dialog, &gateway);
  quitLauncher(dialog);
}

// A gateway the operator started from the package before Begin is neither
// doubled nor closed.
TEST_F(LauncherWebTest, AGatewayStartedByHandIsLeftAlone) {
  installPackage(/*withGateway=*/true);
  driver::Child byHand;
  ASSERT_TRUE(driver::startProgram(file("Bin\\QOVAWEB.exe"), folder(), &byHand));
  HWND window = findTopWindow(kGatewayCaption, kWaitMs, byHand.id, "#32770");
  ASSERT_NE(window, nullptr);

  HWND dialog = begin();
  ASSERT_NE(dialog, nullptr);
  Watched server;
  watch("QOVAHOST.exe", &server);
  HWND lobby = lobbyOf(server);
  ASSERT_NE(lobby, nullptr);
  // The gateway takes the server up from its marker.
  EXPECT_TRUE(waitUntil([&] { return itemText(window, IDC_WEB_STATUS).rfind("Running.", 0) == 0; },
                        kWaitMs));
  char image[MAX_PATH] = {};
  GetFullPathNameA(file("Bin\\QOVAWEB.exe").c_str(), MAX_PATH, image, nullptr);
  EXPECT_EQ(processCount(image), 1);

  ASSERT_TRUE(clickLater(item(lobby, 1001)));
  DWORD code = 1234;
  EXPECT_TRUE(server.ended(kWaitMs, &code));
  expectLauncherBack(dialog, nullptr);
  EXPECT_FALSE(driver::waitForExit(byHand, 1000, &code));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(driver::postCommand(window, IDC_WEB_QUIT));
  EXPECT_TRUE(driver::waitForExit(byHand, kWaitMs, &code));
  EXPECT_EQ(code, 0u);
  driver::endProgram(&byHand);
  quitLauncher(dialog);
}

// Where and how Begin starts the gateway, as a stand-in in its place notes it;
// having no window, the stand-in never closes when asked, and the launcher
// ends it after the grace period and shows again.
TEST_F(LauncherWebTest, TheGatewayStartsInTheWorkingFolderAndOneThatStaysIsEnded) {
  installPackage(/*withGateway=*/false);
  installChild(STAND_IN_CHILD_EXE, "QOVAWEB.exe");
  HWND dialog = begin();
  ASSERT_NE(dialog, nullptr);
  Watched server;
  watch("QOVAHOST.exe", &server);
  HWND lobby = lobbyOf(server);
  ASSERT_NE(lobby, nullptr);
  Watched gateway;
  watch("QOVAWEB.exe", &gateway);
  ASSERT_NE(gateway.process, nullptr);
  ASSERT_TRUE(waitUntil([&] { return testing::fileExists(file("child_ran.txt")); }, kWaitMs));
  std::string ran = fileBytes("child_ran.txt");
  EXPECT_TRUE(endsWith(lineOf(ran, 0), "\\Bin\\QOVAWEB.exe")) << ran;
  EXPECT_TRUE(sameFolder(lineOf(ran, 1), folder())) << ran;
  EXPECT_TRUE(endsWith(lineOf(ran, 2), "QOVAWEB.exe\" --launched")) << ran;
  EXPECT_EQ(fileBytes("child_saw_config.ini"), "30\r\n2\r\nquestions.qdb");

  ASSERT_TRUE(clickLater(item(lobby, 1001)));
  DWORD code = 1234;
  EXPECT_TRUE(server.ended(kWaitMs, &code));
  EXPECT_TRUE(waitUntil([&] { return isVisible(dialog); }, kWaitMs + kGatewayCloseGraceMs));
  EXPECT_TRUE(gateway.ended(0, &code));
  EXPECT_EQ(code, 1u);  // ended by the launcher; on its own it ends with 0
  quitLauncher(dialog);
}

}  // namespace
}  // namespace qova
