#include "tests/driver/driver.h"

#include <tlhelp32.h>

#include <cstdint>
#include <fstream>
#include <vector>

namespace qova::driver {

namespace {

constexpr DWORD kPollMs = 50;

LRESULT sendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok) {
  DWORD_PTR result = 0;
  *ok = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                            &result) != 0;
  return static_cast<LRESULT>(result);
}

struct TopSearch {
  const std::string* caption;
  const char* className;
  DWORD processId;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK matchTop(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopSearch*>(param);
  if (search->processId != 0) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
  }
  if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
  if (search->className != nullptr) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpA(name, search->className) != 0) return TRUE;
  }
  // GetWindowTextA reads a top-level caption without sending a message to
  // the owner, so a blocked program does not block the search.
  char caption[512] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (*search->caption != caption) return TRUE;
  search->found = window;
  return FALSE;
}

HWND findTop(const std::string& caption, DWORD timeoutMs, DWORD processId, const char* className,
             bool visibleOnly) {
  TopSearch search{&caption, className, processId, visibleOnly, nullptr};
  waitUntil(
      [&] {
        EnumWindows(matchTop, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

bool isStatic(HWND window) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  return lstrcmpiA(name, "Static") == 0;
}

bool hasIconStyle(HWND window) {
  return (GetWindowLongPtrA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

std::vector<HWND> children(HWND parent) {
  std::vector<HWND> list;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&list));
  return list;
}

}  // namespace

bool startProgram(const std::string& exe, const std::string& folder, Child* child,
                  const std::string& arguments) {
  std::string line = "\"" + exe + "\"";
  if (!arguments.empty()) line += " " + arguments;
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  child->process = info.hProcess;
  child->id = info.dwProcessId;
  return true;
}

bool waitForExit(const Child& child, DWORD timeoutMs, DWORD* exitCode) {
  if (child.process == nullptr) return false;
  if (WaitForSingleObject(child.process, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(child.process, exitCode) != 0;
}

void endProgram(Child* child) {
  if (child->process == nullptr) return;
  if (WaitForSingleObject(child->process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(child->process, 99);
    WaitForSingleObject(child->process, 5000);
  }
  CloseHandle(child->process);
  child->process = nullptr;
  child->id = 0;
}

void quitProgram(Child* child, const std::vector<std::string>& captions, int id, DWORD graceMs) {
  if (child->process != nullptr && WaitForSingleObject(child->process, 0) == WAIT_TIMEOUT) {
    for (const std::string& caption : captions) {
      HWND window = findTopWindow(caption, 0, child->id);
      if (window != nullptr) postCommand(window, id);
    }
    WaitForSingleObject(child->process, graceMs);
  }
  endProgram(child);
}

DWORD findProcess(const std::string& exe, DWORD timeoutMs) {
  char wanted[MAX_PATH] = {};
  if (GetFullPathNameA(exe.c_str(), MAX_PATH, wanted, nullptr) == 0) return 0;
  DWORD found = 0;
  waitUntil(
      [&] {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return false;
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more && found == 0;
             more = Process32Next(snapshot, &entry)) {
          HANDLE process =
              OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
          if (process == nullptr) continue;
          char image[MAX_PATH] = {};
          DWORD size = MAX_PATH;
          if (QueryFullProcessImageNameA(process, 0, image, &size) &&
              lstrcmpiA(image, wanted) == 0) {
            found = entry.th32ProcessID;
          }
          CloseHandle(process);
        }
        CloseHandle(snapshot);
        return found != 0;
      },
      timeoutMs);
  return found;
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

HWND findTopWindow(const std::string& caption, DWORD timeoutMs, DWORD processId,
                   const char* className) {
  return findTop(caption, timeoutMs, processId, className, false);
}

HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string text(HWND window) {
  if (window == nullptr) return "";
  bool ok = false;
  LRESULT length = sendTimed(window, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (!ok || length <= 0) return "";
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  LRESULT copied =
      sendTimed(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &ok);
  if (!ok || copied < 0) return "";
  return std::string(buffer.data(), static_cast<size_t>(copied));
}

bool setText(HWND window, const std::string& value) {
  if (window == nullptr) return false;
  bool ok = false;
  LRESULT done = sendTimed(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()), &ok);
  return ok && done != 0;
}

std::string itemText(HWND dialog, int id) { return text(item(dialog, id)); }

std::vector<std::string> entries(HWND control, bool combo) {
  std::vector<std::string> out;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                           driver::kSendTimeoutMs, &count)) {
    return out;
  }
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG,
                        driver::kSendTimeoutMs, &length);
    std::wstring wide(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i,
                        reinterpret_cast<LPARAM>(&wide[0]), SMTO_ABORTIFHUNG,
                        driver::kSendTimeoutMs, &copied);
    wide.resize(copied);
    std::string text(wide.size() * 2 + 1, '\0');
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(bytes > 0 ? bytes : 0);
    out.push_back(text);
  }
  return out;
}

bool setItemText(HWND dialog, int id, const std::string& value) {
  return setText(item(dialog, id), value);
}

bool click(HWND button) {
  if (button == nullptr) return false;
  bool ok = false;
  sendTimed(button, BM_CLICK, 0, 0, &ok);
  return ok;
}

bool clickLater(HWND button) {
  return button != nullptr && PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool isVisible(HWND window) { return window != nullptr && IsWindowVisible(window) != 0; }

bool postCommand(HWND window, int id) {
  return window != nullptr && PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) != 0;
}

HWND findMessageBox(const std::string& caption, DWORD timeoutMs, DWORD processId) {
  // Visible only: the box gets its caption and text while it is set up, and
  // is shown once both are in place.
  return findTop(caption, timeoutMs, processId, "#32770", true);
}

std::string messageBoxText(HWND box) {
  for (HWND child : children(box)) {
    if (!isStatic(child) || hasIconStyle(child)) continue;
    std::string value = text(child);
    if (!value.empty()) return value;
  }
  return "";
}

bool messageBoxHasIcon(HWND box) {
  for (HWND child : children(box)) {
    if (!isStatic(child) || !hasIconStyle(child)) continue;
    bool ok = false;
    if (sendTimed(child, STM_GETICON, 0, 0, &ok) != 0 && ok) return true;
  }
  return false;
}

bool answer(HWND box, int id) { return postCommand(box, id); }

bool chooseFile(HWND dialog, const std::string& path) {
  HWND field = item(dialog, 1148);                   // file name combo box
  if (field == nullptr) field = item(dialog, 1152);  // file name edit
  if (field == nullptr || !setText(field, path)) return false;
  return postCommand(dialog, IDOK);
}

namespace {

// True when every pixel of a 24-bit picture has the colour of the first.
bool isFlat(const unsigned char* bits, DWORD stride, LONG width, LONG height) {
  for (LONG y = 0; y < height; ++y) {
    const unsigned char* row = bits + static_cast<size_t>(y) * stride;
    for (LONG x = 0; x < width * 3; ++x) {
      if (row[x] != bits[x % 3]) return false;
    }
  }
  return true;
}

}  // namespace

bool saveScreenshot(HWND window, const std::string& bmpPath) {
  RECT rect;
  if (window == nullptr || !GetWindowRect(window, &rect)) return false;
  const LONG width = rect.right - rect.left;
  const LONG height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;

  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up rows, as a .bmp file stores them
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);

  // Copied from the screen: a device context of another process's window
  // cannot be drawn into from here.
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, keep);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  Sleep(500);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  bool copied = false;
  if (memory != nullptr && bitmap != nullptr) {
    // A busy program may not have painted yet: a picture of one flat colour
    // is taken again, for a few seconds at most.
    for (int attempt = 0; attempt < 20; ++attempt) {
      HGDIOBJ previous = SelectObject(memory, bitmap);
      copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
      GdiFlush();
      SelectObject(memory, previous);
      if (!copied || !isFlat(static_cast<const unsigned char*>(bits), stride, width, height)) break;
      RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      Sleep(250);
    }
  }
  bool written = false;
  if (copied) {
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    std::ofstream out(bmpPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(static_cast<const char*>(bits), header.biSizeImage);
    out.close();
    written = !out.fail();
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
  return written;
}

}  // namespace qova::driver
