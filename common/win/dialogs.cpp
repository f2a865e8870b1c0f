#include "common/win/dialogs.h"

#include <vector>

namespace qova {

std::string dialogItemText(HWND dialog, int id, size_t bufferSize) {
  std::vector<char> buffer(bufferSize, '\0');
  GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

std::string windowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  // One character beyond the length told and its NUL, so the text is never
  // cut short; the copy's own count sets the size.
  std::string text(static_cast<size_t>(length) + 2, '\0');
  int copied = GetWindowTextA(window, &text[0], length + 2);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

int showMessageBox(const MessageRequest& request) {
  return MessageBoxA(static_cast<HWND>(request.owner), request.text.c_str(),
                     request.caption.c_str(), request.type);
}

}  // namespace qova
