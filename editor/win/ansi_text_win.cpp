// The ANSI code page on Windows: the machine's own (CP_ACP), converted
// through UTF-16 with no best-fit look-alikes, so a character the code page
// lacks is found and reported instead of being replaced.
#include <windows.h>

#include <string>

#include "editor/import/ansi_text.h"
#include "editor/import/utf8_text.h"

namespace qova {
namespace {

std::wstring wideFrom(const std::string& text, UINT codePage, DWORD flags, bool* ok) {
  *ok = true;
  if (text.empty()) return std::wstring();
  int length = static_cast<int>(text.size());
  int wide = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
  if (wide <= 0) {
    *ok = false;
    return std::wstring();
  }
  std::wstring out(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), length, &out[0], wide);
  return out;
}

// The wide text in the ANSI code page; false when a character has no byte
// sequence of its own there.
bool ansiFromWide(const std::wstring& wide, std::string* out) {
  out->clear();
  if (wide.empty()) return true;
  int length = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                 nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  out->assign(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, &(*out)[0], size, nullptr,
                      &usedDefault);
  return !usedDefault;
}

}  // namespace

bool ansiFromUtf8(const std::string& text, std::string* ansi, uint32_t* missing) {
  if (!isUtf8(text)) {
    *missing = 0xFFFD;
    return false;
  }
  // A machine whose ANSI code page is UTF-8 shows every character.
  if (GetACP() == CP_UTF8) {
    *ansi = text;
    return true;
  }
  bool ok = false;
  std::wstring wide = wideFrom(text, CP_UTF8, MB_ERR_INVALID_CHARS, &ok);
  std::string out;
  if (ok && ansiFromWide(wide, &out)) {
    *ansi = std::move(out);
    return true;
  }
  // Find the first character that does not convert, to name it.
  size_t at = 0;
  while (at < text.size()) {
    size_t start = at;
    uint32_t c = 0;
    nextUtf8(text, &at, &c);
    std::wstring one = wideFrom(text.substr(start, at - start), CP_UTF8, 0, &ok);
    std::string ignored;
    if (!ok || !ansiFromWide(one, &ignored)) {
      *missing = c;
      return false;
    }
  }
  *missing = 0xFFFD;
  return false;
}

std::string utf8FromAnsi(const std::string& text) {
  bool ok = false;
  std::wstring wide = wideFrom(text, CP_ACP, 0, &ok);
  if (wide.empty()) return std::string();
  int length = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace qova
