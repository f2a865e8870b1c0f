// The questions and notices that portable logic puts to the user. The Win32
// shells fill this with MessageBoxA, GetOpenFileNameA and GetSaveFileNameA;
// tests fill it with scripted answers and record exactly what was asked.
#pragma once

#include <functional>
#include <string>

namespace qova {

// Message box types and answers, with the values of the Win32 constants so
// the shell can pass them through unchanged.
enum : unsigned {
  kMbOk = 0x00,
  kMbYesNo = 0x04,
  kMbIconHand = 0x10,         // stop icon
  kMbIconExclamation = 0x30,  // also MB_ICONWARNING
  kMbIconInformation = 0x40,
};
enum : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };

// Open/save dialog flags, Win32 values.
enum : unsigned {
  kOfnOverwritePrompt = 0x00000002,
  kOfnHideReadOnly = 0x00000004,
  kOfnNoChangeDir = 0x00000008,
  kOfnFileMustExist = 0x00001000,
  kOfnNoNetworkButton = 0x00020000,
};

struct MessageRequest {
  void* owner = nullptr;  // window handle of the owner, null for none
  std::string text;
  std::string caption;
  unsigned type = kMbOk;
};

struct FileDialogRequest {
  void* owner = nullptr;
  // The filter exactly as OPENFILENAMEA.lpstrFilter wants it: description,
  // NUL, pattern, NUL, ..., with the final extra NUL included.
  std::string filter;
  unsigned filterIndex = 1;
  unsigned flags = 0;
  std::string defaultExtension;  // empty for none
  std::string initialDirectory;  // empty for none
  unsigned bufferSize = 512;     // characters for the chosen path, NUL included
};

struct Prompts {
  // Returns the button pressed: kIdOk, kIdYes or kIdNo.
  std::function<int(const MessageRequest&)> messageBox;
  // Return false when the user cancels; otherwise *path is the chosen file.
  std::function<bool(const FileDialogRequest&, std::string* path)> openFile;
  std::function<bool(const FileDialogRequest&, std::string* path)> saveFile;
};

}  // namespace qova
