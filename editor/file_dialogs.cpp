#include "editor/file_dialogs.h"

#include <initializer_list>

#include "editor/file_path.h"

namespace qova {
namespace {

// Description and pattern pairs joined the way the common dialogs take them:
// each text followed by a NUL, and one more NUL at the end.
std::string filterOf(std::initializer_list<const char*> texts) {
  std::string filter;
  for (const char* text : texts) {
    filter += text;
    filter += '\0';
  }
  filter += '\0';
  return filter;
}

FileDialogRequest request(void* owner, std::string filter, unsigned flags,
                          const char* defaultExtension) {
  FileDialogRequest r;
  r.owner = owner;
  r.filter = std::move(filter);
  r.filterIndex = 1;
  r.flags = flags;
  r.defaultExtension = defaultExtension;
  r.initialDirectory = currentDirectory();
  r.bufferSize = 512;
  return r;
}

constexpr unsigned kOpenFlags =
    kOfnHideReadOnly | kOfnNoChangeDir | kOfnFileMustExist | kOfnNoNetworkButton;

}  // namespace

FileDialogRequest databaseOpenRequest(void* owner) {
  // The three tabs before "*.ini" belong to the filter as it has always been
  // shown; it is kept byte for byte.
  return request(
      owner,
      filterOf({"QOVA Question Database File (*.qdb, *.dat, *.ini)", "*.qdb;*.dat;\t\t\t*.ini",
                "Text File (*.txt)", "*.txt", "All Files (*.*)", "*.*"}),
      kOpenFlags, "");
}

FileDialogRequest databaseSaveRequest(void* owner) {
  return request(owner, filterOf({"QOVA Database File (*.qdb)", "*.qdb"}),
                 kOfnOverwritePrompt | kOfnNoChangeDir | kOfnNoNetworkButton, "qdb");
}

FileDialogRequest textOpenRequest(void* owner) {
  return request(owner, filterOf({"Text File (*.txt)", "*.txt", "All Files (*.*)", "*.*"}),
                 kOpenFlags, "");
}

FileDialogRequest importSaveRequest(void* owner) {
  return request(
      owner,
      filterOf({"QOVA Question Database File (*.qdb, *.dat, *.ini)", "*.qdb;*.dat;\t\t*.ini",
                "Text File (*.txt)", "*.txt", "All Files (*.*)", "*.*"}),
      kOfnOverwritePrompt | kOfnHideReadOnly | kOfnNoChangeDir | kOfnNoNetworkButton, ".qdb");
}

FileDialogRequest questionFileRequest(void* owner) {
  return request(owner,
                 filterOf({"Question Files (*.txt, *.gift, *.csv)", "*.txt;*.gift;*.csv",
                           "All Files (*.*)", "*.*"}),
                 kOpenFlags, "");
}

}  // namespace qova
