// Runs the real QOVASTART.exe in a fresh working folder of its own and hands
// the tests its dialog. Shared by the launcher's end-to-end test programs.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "testing/test_support.h"
#include "tests/driver/driver.h"

namespace qova {

constexpr DWORD kWaitMs = 15000;

// Line `index` (from 0) of a text of CR LF lines.
inline std::string lineOf(const std::string& text, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) start = text.find("\r\n", start) + 2;
  return text.substr(start, text.find("\r\n", start) - start);
}

// Whether two folder paths name the same folder, trailing backslashes and
// letter case aside.
inline bool sameFolder(std::string a, std::string b) {
  while (!a.empty() && a.back() == '\\') a.pop_back();
  while (!b.empty() && b.back() == '\\') b.pop_back();
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Whether `path` ends with `tail`, letter case aside.
inline bool endsWith(const std::string& path, const std::string& tail) {
  return path.size() >= tail.size() &&
         lstrcmpiA(path.substr(path.size() - tail.size()).c_str(), tail.c_str()) == 0;
}

class LauncherFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    // Lets a stand-in child go, then ends whatever still runs.
    testing::writeFileBytes(file("child_release"), "");
    driver::endProgram(&launcher_);
    endBinPrograms();
  }

  // A new empty working folder for the next run (the last one is removed).
  void freshFolder() {
    testing::writeFileBytes(file("child_release"), "");
    endBinPrograms();
    folder_ = std::make_unique<testing::TempDir>();
  }

  // Ends the programs of the working folder's Bin that still run: a failed
  // test may leave the real server or gateway behind the launcher.
  void endBinPrograms() {
    for (const char* name : {"QOVAHOST.exe", "QOVAMAKE.exe", "QOVAWEB.exe"}) {
      for (int i = 0; i < 4; ++i) {
        DWORD id = driver::findProcess(file(std::string("Bin\\") + name), 0);
        if (id == 0) break;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr) break;
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
      }
    }
  }
  const std::string& folder() const { return folder_->path(); }
  std::string file(const std::string& name) const { return folder_->file(name); }
  std::string fileBytes(const std::string& name) const {
    return testing::readFileBytes(file(name));
  }

  // Copies `exe` to Bin\<name> in the working folder.
  void installChild(const std::string& exe, const std::string& name) {
    CreateDirectoryA(file("Bin").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(exe.c_str(), file("Bin\\" + name).c_str(), FALSE)) << exe;
  }

  // Starts the launcher and waits for its dialog to show.
  HWND startLauncher() {
    EXPECT_TRUE(driver::startProgram(QOVASTART_EXE, folder(), &launcher_));
    HWND dialog = driver::findTopWindow("QOVA Startup", kWaitMs, launcher_.id, "#32770");
    EXPECT_NE(dialog, nullptr);
    EXPECT_TRUE(driver::waitUntil([&] { return driver::isVisible(dialog); }, kWaitMs));
    return dialog;
  }

  // Quit button or close box; the launcher must end with exit code 0.
  void quitLauncher(HWND dialog, bool closeBox = false) {
    if (closeBox) {
      PostMessageA(dialog, WM_CLOSE, 0, 0);
    } else {
      EXPECT_TRUE(driver::clickLater(driver::item(dialog, 1008)));
    }
    DWORD code = 99;
    EXPECT_TRUE(driver::waitForExit(launcher_, kWaitMs, &code));
    EXPECT_EQ(code, 0u);
    driver::endProgram(&launcher_);
  }

  // Expects the message box that a failed start shows, and closes it.
  void expectCouldNotSpawn() {
    HWND box = driver::findMessageBox("Error", kWaitMs, launcher_.id);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver::messageBoxText(box), "Could not spawn process.");
    EXPECT_FALSE(driver::messageBoxHasIcon(box));
    EXPECT_TRUE(driver::answer(box, IDOK));
    EXPECT_TRUE(driver::waitUntil([&] { return !IsWindow(box); }, kWaitMs));
  }

  std::unique_ptr<testing::TempDir> folder_ = std::make_unique<testing::TempDir>();
  driver::Child launcher_;
};

}  // namespace qova
