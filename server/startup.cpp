#include "server/startup.h"

#include <fstream>

#include "common/number_format.h"
#include "common/random.h"
#include "common/tick.h"
#include "server/results_save.h"
#include "server/socket.h"

namespace qova {

namespace {

// One line as getline(buffer, size) reads it from a text-mode stream: CR LF
// counts as the line end like LF alone. Extracting nothing, or filling the
// buffer before the line end, fails the stream for every later line.
std::string readSettingLine(std::istream& in, size_t size, bool& failed) {
  std::string line;
  if (failed) return line;
  for (;;) {
    int c = in.peek();
    if (c == std::char_traits<char>::eof()) {
      if (line.empty()) failed = true;
      return line;
    }
    if (c == '\n') {
      in.get();
      return line;
    }
    if (c == '\r') {
      in.get();
      if (in.peek() == '\n') {
        in.get();
        return line;
      }
      in.unget();
    }
    if (line.size() + 1 >= size) {
      failed = true;
      return line;
    }
    line += static_cast<char>(in.get());
  }
}

}  // namespace

Settings parseSettings(std::istream& in) {
  Settings settings;
  bool failed = false;
  settings.timeLimitText = readSettingLine(in, 30, failed);
  settings.questionsPerRound = parseLeadingInt(readSettingLine(in, 256, failed));
  settings.databaseFile = readSettingLine(in, 256, failed);
  return settings;
}

Settings readSettings(ServerApp& app, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (app.shell.prompts.messageBox) {
      app.shell.prompts.messageBox(MessageRequest{nullptr, "config.ini not found; using defaults.",
                                                  "Notice", kMbOk | kMbIconInformation});
    }
    return Settings();
  }
  return parseSettings(in);
}

bool checkMarker(ServerApp& app) {
  std::ifstream marker(app.markerPath, std::ios::binary);
  if (!marker) return true;
  int answer = kIdYes;
  if (app.shell.prompts.messageBox) {
    answer = app.shell.prompts.messageBox(MessageRequest{
        nullptr, "Another server is running on the network already.\r\nContinue anyways?", "Notice",
        kMbYesNo | kMbIconInformation});
  }
  if (answer != kIdNo) return true;
  app.errorText = kMsgStartupAborted;
  app.errorFlags &= ~kReportLog;
  app.exitCode = -1;
  return false;
}

bool loadQuestions(ServerApp& app, const Settings& settings) {
  int32_t records = app.questions.load(settings.databaseFile);
  if (records < 0) {
    app.errorText = kMsgLoadingQuestions;
    return false;
  }
  // A round of no questions has no first question to send; refuse it here
  // rather than start a game that cannot be played. Every record can be
  // drawn (see drawRecordNumbers), so the record count is the only upper
  // bound that the header gives. A header may claim far more records than
  // the file holds: a round is bounded by the records really found too, so
  // that what a round holds in memory grows with the file, not the claim.
  if (app.questionsPerRound < 1) {
    app.errorText = kMsgBadQuestionsPerRound;
    return false;
  }
  if (records < app.questionsPerRound || app.questions.recordsPresent() < app.questionsPerRound) {
    app.errorText = kMsgNotEnoughQuestions;
    return false;
  }
  return true;
}

bool startServerCore() {
  ServerAppRef app;
  seedRandom(tickCount());
  // Before anything here can end in a shutdown that rewrites the results.
  setAsideUnfinishedResults(*app);
  app->errorFlags = kStartupErrorFlags;
  app->exitCode = 1;
  if (!checkMarker(*app)) return false;
  if (socketStartup() != 0) {
    app->errorText = kMsgWinsock;
    return false;
  }
  Settings settings = readSettings(*app, kConfigFileName);
  app->timeLimitText = settings.timeLimitText;
  app->questionsPerRound = settings.questionsPerRound;
  return loadQuestions(*app, settings);
}

}  // namespace qova
