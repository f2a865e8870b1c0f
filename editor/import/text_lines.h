// A text cut into lines for the line-based readers. CR LF, LF and a lone CR
// (as older Mac programs write) each end a line; the views point into the
// text, which must outlive them.
#pragma once

#include <string_view>
#include <vector>

namespace qova {

// Line i of the result is line i + 1 of the file. A text that ends with a
// line end has no empty last line.
std::vector<std::string_view> splitLines(std::string_view text);

// True when the line holds nothing but blanks.
bool isBlank(std::string_view line);

}  // namespace qova
