#include "editor/win/win_prompts.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/win/dialogs.h"

namespace qova {
namespace {

// Runs one common file dialog. The request's flags carry OFN_NOCHANGEDIR, so
// the working folder (where the temporary file of a save and the run log go)
// never moves, whatever folder the user browses to.
bool runFileDialog(const FileDialogRequest& request, std::string* path, bool save) {
  std::vector<char> buffer(request.bufferSize > 0 ? request.bufferSize : 1, '\0');
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = static_cast<HWND>(request.owner);
  dialog.lpstrFilter = request.filter.empty() ? nullptr : request.filter.c_str();
  dialog.nFilterIndex = request.filterIndex;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = static_cast<DWORD>(buffer.size());
  dialog.lpstrInitialDir =
      request.initialDirectory.empty() ? nullptr : request.initialDirectory.c_str();
  dialog.Flags = request.flags;
  dialog.lpstrDefExt =
      request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  BOOL chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!chosen) return false;
  *path = buffer.data();
  return true;
}

}  // namespace

Prompts windowsPrompts() {
  Prompts prompts;
  prompts.messageBox = showMessageBox;
  prompts.openFile = [](const FileDialogRequest& request, std::string* path) {
    return runFileDialog(request, path, false);
  };
  prompts.saveFile = [](const FileDialogRequest& request, std::string* path) {
    return runFileDialog(request, path, true);
  };
  return prompts;
}

}  // namespace qova
