// What the saving of the results needs from outside: the clock that dates
// them and the file layer that writes them. The server uses the computer's;
// tests fix the clock and record or break the file layer.
#pragma once

#include "common/durable_file.h"
#include "common/wall_clock.h"

namespace qova {

struct ResultsSettings {
  WallClock clock = localNow;
  FileOps files = platformFileOps();
};

}  // namespace qova
