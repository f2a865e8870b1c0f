// The text a reader sees of an HTML fragment, as question files written for
// web pages hold them: tags removed, character entities decoded, runs of
// white space one blank.
#pragma once

#include <string>
#include <string_view>

namespace qova {

struct HtmlText {
  std::string text;      // UTF-8, trimmed
  bool picture = false;  // the fragment shows a picture (<img>)
};

// `html` is UTF-8. An entity that is not known stays as written, as a
// browser shows it; "&nbsp;" becomes a plain blank, since a record line is
// plain text.
HtmlText textFromHtml(std::string_view html);

}  // namespace qova
