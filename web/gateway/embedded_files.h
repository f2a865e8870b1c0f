// The page's files, compiled into the program from a list at build time
// (see embed_files.cmake).
#pragma once

#include <cstddef>

namespace qova::web {

struct EmbeddedFile {
  const char* urlPath;      // "/", "/app.js", ...
  const char* contentType;  // "text/html; charset=utf-8", ...
  const unsigned char* data;
  size_t size;
};

struct EmbeddedFiles {
  const EmbeddedFile* files;
  size_t count;
};

// The page app (web/app, listed in web/app/embed.txt); no files when the
// list was missing at build time.
const EmbeddedFiles& appFiles();

}  // namespace qova::web
