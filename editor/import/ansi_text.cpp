// The ANSI code page outside Windows: Windows-1252.
#include "editor/import/ansi_text.h"

#include "editor/import/utf8_text.h"

namespace qova {
namespace {

// Characters of the bytes 0x80..0x9F; 0 where Windows-1252 defines none.
const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t characterOf(unsigned char byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  uint16_t c = kHigh[byte - 0x80];
  return c != 0 ? c : byte;
}

// The byte of character `c`, or -1 when Windows-1252 has none.
int byteOf(uint32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == c) return 0x80 + i;
  }
  return -1;
}

}  // namespace

bool ansiFromUtf8(const std::string& text, std::string* ansi, uint32_t* missing) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    uint32_t c = 0;
    if (!nextUtf8(text, &at, &c)) {
      *missing = 0xFFFD;
      return false;
    }
    int byte = byteOf(c);
    if (byte < 0) {
      *missing = c;
      return false;
    }
    out += static_cast<char>(byte);
  }
  *ansi = std::move(out);
  return true;
}

std::string utf8FromAnsi(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char byte : text) appendUtf8(&out, characterOf(static_cast<unsigned char>(byte)));
  return out;
}

}  // namespace qova
