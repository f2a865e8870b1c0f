#include "common/win/dialogs.h"

#include <vector>

namespace qova {

std::string dialogItemText(HWND dialog, int id, size_t bufferSize) {
  std::vector<char> buffer(bufferSize, '\0');
  GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

std::string entryText(HWND dialog, int id, int index, bool combo) {
  if (index < 0) return "";
  LRESULT length =
      SendDlgItemMessageA(dialog, id, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, index, 0);
  if (length < 0) return "";  // CB_ERR and LB_ERR
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT copied = SendDlgItemMessageA(dialog, id, combo ? CB_GETLBTEXT : LB_GETTEXT, index,
                                       reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied < 0 ? 0 : static_cast<size_t>(copied));
  return text;
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
