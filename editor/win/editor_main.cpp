// QOVAMAKE, the question database editor ("Question DB Maker"). The command
// line and the show state are ignored: the editor never opens a file named
// on its command line.
#include <windows.h>

#include "editor/win/editor_app.h"
#include "editor/win/win_prompts.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return qova::runEditor(instance, qova::windowsPrompts());
}
