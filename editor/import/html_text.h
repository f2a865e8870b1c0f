// The text a reader sees of an HTML fragment, as question files written for
// web pages hold them: tags removed, character entities decoded, runs of
// white space one blank.
#pragma once

#include <string>
#include <string_view>

namespace qova {

struct HtmlText {
  std::string text;  // UTF-8, trimmed
  // The first tag that shows something a text cannot hold ("img", "video",
  // "audio", "iframe", "object", "embed"), or empty.
  std::string media;
};

// `html` is UTF-8. An entity that is not known stays as written, as a
// browser shows it; "&nbsp;" becomes a plain blank, since a record line is
// plain text. A superscript is written after "^" ("10<sup>3</sup>" is
// "10^3", not "103"); scripts and style sheets are no text.
HtmlText textFromHtml(std::string_view html);

}  // namespace qova
