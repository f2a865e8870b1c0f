// qova_window_driver: presses buttons and reads controls of another program's
// top windows, for tests written outside Windows (a Python test starts it
// with wine beside the program it drives, in the same prefix).
//
// One command a line on standard input, fields separated by tabs; one reply
// line each on standard output, flushed at once, so one driver process
// serves a whole test (starting a Wine process costs a second or two):
//
//   click <TAB> CAPTION <TAB> ID [<TAB> CLASS]
//                                  posts a click to control ID of the top
//                                  window with that caption (and window
//                                  class, "#32770" for a dialog); "ok"
//   text <TAB> CAPTION <TAB> ID [<TAB> CLASS]
//                                  "ok <TAB> " and the control's text, with
//                                  backslash, CR and LF written \\, \r, \n
//   checked <TAB> CAPTION <TAB> ID [<TAB> CLASS]
//                                  "ok <TAB> 1" for a ticked check box,
//                                  "ok <TAB> 0" otherwise
//   quit                           ends the driver (so does the end of input)
//
// The window is waited for up to 15 s. A failure replies "error <TAB> " and
// what failed, and the driver reads on. With arguments, the driver runs the
// one command they form instead (`qova_window_driver text CAPTION ID`) and
// exits with 0 when it succeeded, 1 otherwise.
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/driver/driver.h"

namespace {

constexpr DWORD kFindWindowMs = 15000;

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

// A control id in decimal; false for anything else.
bool parseId(const std::string& text, int* id) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *id = std::atoi(text.c_str());
  return true;
}

// The text on one reply line: backslashes, CRs and LFs escaped.
std::string oneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

// Runs one command; the reply line without its line end. *quit is set by "quit".
std::string run(const std::vector<std::string>& fields, bool* quit) {
  if (fields.size() == 1 && fields[0] == "quit") {
    *quit = true;
    return "ok";
  }
  int id = 0;
  std::string verb = fields.empty() ? std::string() : fields[0];
  if (fields.size() < 3 || fields.size() > 4 ||
      (verb != "click" && verb != "text" && verb != "checked") || !parseId(fields[2], &id)) {
    return "error\tunknown command (click|text|checked <TAB> CAPTION <TAB> ID [<TAB> CLASS], "
           "or quit)";
  }
  // A program may have more than one top window of a caption (a hidden
  // helper window beside its dialog): the class tells them apart.
  const char* className = fields.size() == 4 ? fields[3].c_str() : nullptr;
  HWND window = qova::driver::findTopWindow(fields[1], kFindWindowMs, 0, className);
  if (window == nullptr) return "error\tno top window captioned \"" + fields[1] + "\"";
  HWND control = qova::driver::item(window, id);
  if (control == nullptr) return "error\tthe window has no control " + fields[2];
  if (verb == "text") return "ok\t" + oneLine(qova::driver::text(control));
  if (verb == "checked") {
    return SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ok\t1" : "ok\t0";
  }
  // Posted: the click may open a modal loop or block in the other program.
  if (!qova::driver::clickLater(control)) return "error\tthe click could not be posted";
  return "ok";
}

}  // namespace

int main(int argc, char** argv) {
  bool quit = false;
  if (argc > 1) {
    std::vector<std::string> fields(argv + 1, argv + argc);
    std::string reply = run(fields, &quit);
    std::cout << reply << std::endl;
    return reply.rfind("ok", 0) == 0 ? 0 : 1;
  }
  std::string line;
  while (!quit && std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << run(splitTabs(line), &quit) << std::endl;
  }
  return 0;
}
