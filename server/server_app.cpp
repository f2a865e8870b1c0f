#include "server/server_app.h"

#include <filesystem>

#include "common/run_log.h"
#include "server/results_save.h"

namespace qova {

const char kMsgStartupAborted[] = "Startup aborted.";
const char kMsgWinsock[] = "Error initializing WinSock.";
const char kMsgLoadingQuestions[] = "Error loading questions.";
const char kMsgNotEnoughQuestions[] = "Not enough questions in database.";
const char kMsgBadQuestionsPerRound[] = "Questions per round must be a whole number of at least 1.";
const char kMsgCreatingWindow[] = "Error creating window.";
const char kMsgListeningSocket[] = "Error setting up listening socket.";
const char kMsgAccept[] = "Error in accept().";
const char kMsgAllDropped[] = "All clients have dropped.";

const char kResultsFileName[] = "endscores.txt";
const char kConfigFileName[] = "config.ini";

namespace {

void deleteMarker(ServerApp& app) {
  if (app.shell.deleteMarkerFile) {
    app.shell.deleteMarkerFile(app.markerPath);
    return;
  }
  // Clear a read-only mark first, as the file may have been made read-only.
  std::error_code ec;
  std::filesystem::permissions(app.markerPath, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove(app.markerPath, ec);
}

}  // namespace

void reportError() {
  ServerAppRef app;
  if (app->errorFlags & kReportLog) {
    RunLog::process().write(app->errorText.c_str(), app->logFileName.c_str());
  }
  if (app->errorFlags & kReportMessageBox) {
    unsigned icon = (app->errorFlags & kReportIconError)     ? kMbIconHand
                    : (app->errorFlags & kReportIconWarning) ? kMbIconExclamation
                                                             : 0u;
    if (app->shell.prompts.messageBox) {
      app->shell.prompts.messageBox(MessageRequest{nullptr, app->errorText, "Error", kMbOk | icon});
    }
  }
  if (app->errorFlags & kReportShutdown) shutdownServer(app->exitCode);
}

void shutdownServer(int32_t exitCode) {
  ServerAppRef app;
  if (app->quitPosted) return;
  app->quitPosted = true;
  app->quitCode = exitCode;
  // Last to first; each deletion closes that connection.
  while (!app->clients.empty()) app->clients.pop_back();
  // The room hears of the end before anything else can hold the process up.
  roomFeedEnd(*app);
  if (app->mainWindow != nullptr) {
    void* window = app->mainWindow;
    app->mainWindow = nullptr;
    if (app->shell.destroyMainWindow) app->shell.destroyMainWindow(window, exitCode);
  } else if (app->shell.postQuit) {
    app->shell.postQuit(exitCode);
  }
  // The results file, then the spreadsheet files and the report; whether
  // they could be written changes nothing of the exit code.
  saveFinalResults(*app);
  // -1 means another server runs: its marker is not ours to delete.
  if (exitCode != -1) deleteMarker(*app);
}

}  // namespace qova
