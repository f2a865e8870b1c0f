// The shared dialog procedure, on a real dialog made from a template in
// memory.
#include "common/win/dialogs.h"

#include <gtest/gtest.h>

#include <vector>

namespace qova {
namespace {

struct Recorder {
  struct Call {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::vector<Call> calls;
  INT_PTR answer = 7;

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    calls.push_back({window, message, wParam, lParam});
    return message == WM_INITDIALOG ? TRUE : answer;
  }
};

// An empty, invisible dialog: a DLGTEMPLATE with no menu, class, title or
// items (each an empty string of one WORD).
struct EmptyTemplate {
  DLGTEMPLATE head{WS_POPUP, 0, 0, 0, 0, 100, 50};
  WORD menu = 0, windowClass = 0, title = 0;
};

TEST(DataDialogProcTest, KeepsTheDataAndHandsItEveryMessage) {
  alignas(4) EmptyTemplate tmpl;
  Recorder data;
  HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &tmpl.head, nullptr,
                                           dataDialogProc<Recorder, &Recorder::handle>,
                                           reinterpret_cast<LPARAM>(&data));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(dialog, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&data));
  // WM_INITDIALOG reached the data with the dialog and its init parameter.
  size_t init = 0;
  while (init < data.calls.size() && data.calls[init].message != WM_INITDIALOG) ++init;
  ASSERT_LT(init, data.calls.size());
  EXPECT_EQ(data.calls[init].window, dialog);
  EXPECT_EQ(data.calls[init].lParam, reinterpret_cast<LPARAM>(&data));

  // A later message goes to the same data with its parameters, and the
  // handler's result is the procedure's.
  auto proc = dataDialogProc<Recorder, &Recorder::handle>;
  data.calls.clear();
  EXPECT_EQ(proc(dialog, WM_USER + 5, 11, 22), 7);
  ASSERT_EQ(data.calls.size(), 1u);
  EXPECT_EQ(data.calls[0].window, dialog);
  EXPECT_EQ(data.calls[0].message, static_cast<UINT>(WM_USER + 5));
  EXPECT_EQ(data.calls[0].wParam, 11u);
  EXPECT_EQ(data.calls[0].lParam, 22);
  SendMessageA(dialog, WM_USER + 6, 0, 0);
  EXPECT_EQ(data.calls.back().message, static_cast<UINT>(WM_USER + 6));

  // Before WM_INITDIALOG there is no data: nothing is called.
  SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
  data.calls.clear();
  EXPECT_EQ(proc(dialog, WM_SETFONT, 0, 0), FALSE);
  EXPECT_TRUE(data.calls.empty());
  DestroyWindow(dialog);
}

}  // namespace
}  // namespace qova
