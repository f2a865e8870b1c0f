// Texts between UTF-8 and the machine's ANSI code page, the one-byte
// character set that .qdb files and the Windows programs hold.
//
// On Windows the real ANSI code page is used (editor/win/ansi_text_win.cpp);
// elsewhere the ANSI code page is Windows-1252 (ansi_text.cpp), the code page
// of Western European and American Windows.
#pragma once

#include <cstdint>
#include <string>

namespace qova {

// Converts valid UTF-8 `text` to the ANSI code page. Returns true and fills
// *ansi when every character has its own byte there. Otherwise returns false
// and sets *missing to the first character that cannot be shown (its Unicode
// number; 0xFFFD for bytes that are not UTF-8). Nothing is replaced by a look-
// alike: a text is converted exactly or not at all.
bool ansiFromUtf8(const std::string& text, std::string* ansi, uint32_t* missing);

// Decodes text in the ANSI code page to UTF-8. A byte that the code page does
// not define becomes the character of the same number (U+0081 for 0x81).
std::string utf8FromAnsi(const std::string& text);

}  // namespace qova
