// The window-free steps of the server's start-up: seeding the generator, the
// marker-file question, the sockets' start-up, reading config.ini and loading
// the question database. The Win32 entry point runs startServerCore, then
// creates the Statistics window and runs the lobby (server/lobby.h).
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "server/server_app.h"

namespace qova {

struct Settings {
  std::string timeLimitText = "30";  // at most 29 characters
  int32_t questionsPerRound = 10;
  std::string databaseFile = "questions.qdb";
};

// Reads the three lines as a stream's getline does with buffers of 30 and
// 256: a line end is consumed and not stored (a CR before it is dropped);
// a line that fills its buffer keeps the first 29 or 255 characters, puts
// the stream in its failed state, and every later line reads empty.
Settings parseSettings(std::istream& in);

// Opens `path` and parses it. When it cannot be opened, shows the "Notice"
// "config.ini not found; using defaults." and gives the defaults.
Settings readSettings(ServerApp& app, const std::string& path);

// The marker question: when the marker file opens, asks "Notice" with Yes
// and No. No: errorText "Startup aborted.", flags kStartupErrorFlags without kReportLog, exitCode
// -1, false.
bool checkMarker(ServerApp& app);

// Loads the database and checks questionsPerRound against it: -1 from the
// bank gives "Error loading questions.", fewer records than asked (in the
// header's count or among the records the file really holds) "Not enough
// questions in database.", and a count below 1 a message of its own.
bool loadQuestions(ServerApp& app, const Settings& settings);

// Steps before any window: seed with the tick count, flags kStartupErrorFlags and exit
// code 1, the marker question, socketStartup, config.ini from the working
// folder, the database. False with errorText set; the caller reports it.
bool startServerCore();

}  // namespace qova
