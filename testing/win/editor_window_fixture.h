// Creates the real editor window inside the test program, with scripted
// prompts, and drives it with messages the way the dialog manager would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "testing/test_qdb_file.h"
#include "testing/test_support.h"
#include "editor/win/editor_app.h"
#include "editor/win/main_window.h"
#include "editor/win/resource.h"

namespace qova {

using testing::TestRecord;

// The bytes of a .qdb file whose bound is its longest line.
inline std::string editorFileBytes(int responseCount, const std::vector<TestRecord>& records) {
  return testing::qdbBytes(testing::longestLine(responseCount, records), responseCount, records);
}

// Records "Q1" .. "Qn", four responses "Qi-a" .. "Qi-d", correct i % 5.
inline std::vector<TestRecord> numberedRecords(int count) {
  std::vector<TestRecord> records;
  for (int i = 1; i <= count; ++i) {
    std::string q = "Q" + std::to_string(i);
    records.push_back({q, {q + "-a", q + "-b", q + "-c", q + "-d"}, i % 5});
  }
  return records;
}

class EditorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = &EditorApp::acquire();
    app_->instance = GetModuleHandleA(nullptr);
    app_->store.prompts = scripted_.prompts();
    ASSERT_TRUE(createMainWindow());
    window_ = app_->mainWindow;
  }

  void TearDown() override {
    if (IsWindow(window_)) {
      shutdownEditor(0);
      EXPECT_EQ(pumpUntilQuit(), 0);
    }
    EditorApp::release();
  }

  // Dispatches every pending message; returns the code of a quit message
  // met on the way, or -1000 when there was none.
  int pump() {
    int quitCode = -1000;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    return quitCode;
  }
  int pumpUntilQuit() {
    for (int i = 0; i < 100; ++i) {
      int code = pump();
      if (code != -1000) return code;
      Sleep(10);
    }
    return -1000;
  }

  HWND item(int id, HWND dialog = nullptr) const {
    return GetDlgItem(dialog ? dialog : window_, id);
  }
  void click(int id, HWND dialog = nullptr) { SendMessageA(item(id, dialog), BM_CLICK, 0, 0); }
  void type(int id, const std::string& text, HWND dialog = nullptr) {
    SetWindowTextA(item(id, dialog), text.c_str());
  }
  std::string text(int id, HWND dialog = nullptr) const {
    char buffer[1024] = {};
    GetWindowTextA(item(id, dialog), buffer, sizeof buffer);
    return buffer;
  }
  bool checked(int id, HWND dialog = nullptr) const {
    return SendMessageA(item(id, dialog), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  bool enabled(int id, HWND dialog = nullptr) const { return IsWindowEnabled(item(id, dialog)); }

  std::string current() const { return text(IDC_CURRENT_RECORD); }
  std::string total() const { return text(IDC_TOTAL_RECORDS); }

  // Writes a database into the temporary folder and opens it with "Open".
  std::string openDatabase(const std::string& name, int responseCount,
                           const std::vector<TestRecord>& records) {
    std::string path = folder_.file(name);
    EXPECT_TRUE(testing::writeFileBytes(path, editorFileBytes(responseCount, records)));
    scripted_.openAnswers.push_back(path);
    click(IDC_OPEN);
    return path;
  }

  testing::TempDir folder_;
  // Save's temporary file goes to the working folder.
  testing::WorkingDir workingDir_{folder_.path()};
  testing::ScriptedPrompts scripted_;
  EditorApp* app_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace qova
