// The Win32 pieces the Windows programs share: the procedure of a dialog
// with data of its own, reading the text of a dialog item or window, and the
// prompts' message box. Windows builds only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/prompts.h"

namespace qova {

// The dialog procedure of a dialog whose data is a `T`, made with
// CreateDialogParamA or DialogBoxParamA and a T* as the init parameter.
// WM_INITDIALOG keeps that pointer in the dialog's GWLP_USERDATA; from then
// on every message, WM_INITDIALOG included, goes to
// (data->*Handle)(dialog, message, wParam, lParam), whose result is the
// procedure's. Messages before WM_INITDIALOG (WM_SETFONT) are left to the
// dialog manager (FALSE).
template <typename T, INT_PTR (T::*Handle)(HWND, UINT, WPARAM, LPARAM)>
INT_PTR CALLBACK dataDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
  T* data = reinterpret_cast<T*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
  return data ? (data->*Handle)(dialog, message, wParam, lParam) : FALSE;
}

// The text of item `id` of `dialog` as GetDlgItemTextA leaves it in a buffer
// of `bufferSize` characters (NUL included): a longer text is cut to
// bufferSize - 1 characters, a missing item gives "". bufferSize >= 1.
std::string dialogItemText(HWND dialog, int id, size_t bufferSize);

// The whole text of `window`, however long (GetWindowTextLengthA, then
// GetWindowTextA into a buffer with room to spare); "" for none.
std::string windowText(HWND window);

// The text of entry `index` of list box (`combo` false) or combo box `id` of
// `dialog`; "" for a negative index or an entry that is not there.
std::string entryText(HWND dialog, int id, int index, bool combo);

// MessageBoxA with the request's owner, text, caption and type unchanged;
// returns the button pressed. The message box of the programs' Prompts.
int showMessageBox(const MessageRequest& request);

}  // namespace qova
