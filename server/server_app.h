// The one application object of the quiz server, the error reporter and the
// orderly shutdown. Everything here is portable; the Win32 shell fills
// ServerApp::shell with the window and message-box actions and keeps the
// window handles, which this code only carries as opaque values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/app_object.h"
#include "common/prompts.h"
#include "common/tick.h"
#include "qdb/question_bank.h"
#include "server/client_connection.h"
#include "server/results_settings.h"
#include "server/room_feed.h"
#include "wire/server_marker.h"

namespace qova {

// How the lobby ended.
enum : uint32_t { kLobbyWaiting = 0, kLobbyQuit = 1, kLobbyStart = 2 };

// Bits of ServerApp::errorFlags, read by reportError.
enum : uint32_t {
  kReportLog = 0x01,          // append errorText to the run log
  kReportMessageBox = 0x02,   // show errorText in an "Error" box
  kReportIconError = 0x04,    // ... with the stop icon
  kReportIconWarning = 0x08,  // ... with the exclamation icon (when 0x04 is clear)
  kReportShutdown = 0x10,     // then shutdownServer(exitCode)
};

// The flag sets the server uses.
constexpr uint32_t kStartupErrorFlags =
    kReportLog | kReportMessageBox | kReportIconWarning | kReportShutdown;
constexpr uint32_t kDroppedErrorFlags = kReportMessageBox | kReportShutdown;  // plain box

// The texts the server reports.
extern const char kMsgStartupAborted[];        // "Startup aborted."
extern const char kMsgWinsock[];               // "Error initializing WinSock."
extern const char kMsgLoadingQuestions[];      // "Error loading questions."
extern const char kMsgNotEnoughQuestions[];    // "Not enough questions in database."
extern const char kMsgBadQuestionsPerRound[];  // questionsPerRound below 1
extern const char kMsgCreatingWindow[];        // "Error creating window."
extern const char kMsgListeningSocket[];       // "Error setting up listening socket."
extern const char kMsgAccept[];                // "Error in accept()."
extern const char kMsgAllDropped[];            // "All clients have dropped."

extern const char kResultsFileName[];  // "endscores.txt"
extern const char kConfigFileName[];   // "config.ini"

// The platform actions that shutdown and start-up need. The Win32 shell fills
// them; tests script and record them. An empty function does the portable
// default noted beside it.
struct ServerShell {
  // Message boxes ("Notice" and "Error"); empty: answered kIdOk / kIdYes.
  Prompts prompts;
  // SetWindowLongPtrA(window, GWLP_USERDATA, exitCode) then DestroyWindow;
  // the window's WM_DESTROY posts the quit message with that code.
  std::function<void(void* window, int32_t exitCode)> destroyMainWindow;
  // PostQuitMessage(exitCode), used when there is no main window.
  std::function<void(int32_t exitCode)> postQuit;
  // Clears read-only and deletes the marker file; empty: done portably.
  std::function<void(const std::string& path)> deleteMarkerFile;
};

// A question as it was asked: its record number in the database and its text
// (for the results files written at shutdown).
struct AskedQuestion {
  int32_t recordNumber = 0;
  std::string question;
  std::string correctResponse;  // its text; empty when the record names none
};

struct ServerApp {
  void* mainWindow = nullptr;  // the Statistics window (HWND), owned by the shell
  void* instance = nullptr;    // HINSTANCE, set by the entry point
  uint32_t lobbyOutcome = kLobbyWaiting;
  // Connected players in connection order; clients[i] and players[i] are
  // always the same player and are added and removed together.
  std::vector<std::unique_ptr<ClientConnection>> clients;
  QuestionBank questions;
  uint32_t errorFlags = 0;
  std::string errorText;
  std::string logFileName = "errLog.txt";
  int32_t exitCode = 0;
  std::string timeLimitText;  // config.ini line 1 as read, at most 29 characters
  int32_t questionsPerRound = 0;
  std::vector<PlayerRecord> players;

  // Not part of the original object's state, but settings of this build:
  ServerShell shell;
  std::string markerPath = kMarkerPath;  // tests point it elsewhere
  std::string resultsFileName = kResultsFileName;
  // The questions of each round begun, in question order: round r of every
  // PlayerRecord answers askedRounds[r].
  std::vector<std::vector<AskedQuestion>> askedRounds;
  ResultsSettings results;  // the clock and file layer of the results files
  bool quitPosted = false;  // shutdownServer has run (it runs once)
  int32_t quitCode = 0;     // the code it posted

  // The game's clock (the deadline, End Question); tests drive their own.
  TickSource ticks = tickCount;

  // The last player number given (PlayerRecord::number), and the room feed.
  int32_t lastPlayerNumber = 0;
  RoomFeed feed;

  static ServerApp& acquire() { return AppObject<ServerApp>::acquire(); }
  static void release() { AppObject<ServerApp>::release(); }
};

using ServerAppRef = AppRef<ServerApp>;

// Reports errorText as errorFlags say: run log, "Error" box, shutdown.
void reportError();

// Ends the run: deletes every client from the last to the first (players are
// kept for the results), hands exitCode to the main window (or posts the quit
// message when there is none), writes the results file, and deletes the
// marker file unless exitCode is -1. A second call does nothing.
void shutdownServer(int32_t exitCode);

}  // namespace qova
