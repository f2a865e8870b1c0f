// UTF-8 and UTF-16 helpers of the question import.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qova {

// Reads the character at *at and moves past it. False (and *at unchanged)
// for a byte sequence that is not UTF-8: a stray continuation byte, a cut or
// over-long sequence, a surrogate or a number beyond U+10FFFF.
bool nextUtf8(std::string_view text, size_t* at, uint32_t* c);

// True when all of `text` is UTF-8.
bool isUtf8(std::string_view text);

void appendUtf8(std::string* out, uint32_t c);

// UTF-16 text (without its byte-order mark) as UTF-8; `bigEndian` gives the
// byte order. Unpaired surrogates and a last odd byte become U+FFFD.
std::string utf8FromUtf16(std::string_view bytes, bool bigEndian);

}  // namespace qova
