// The date and time of day as the computer's clock shows them, for what the
// user reads (the results' dates). Tests hand in a fixed clock.
#pragma once

#include <functional>
#include <string>

namespace qova {

struct DateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

using WallClock = std::function<DateTime()>;

// Local time now.
DateTime localNow();

// "2026-12-10 21:03"
std::string dateTimeText(const DateTime& t);
// "2026-12-10-2103", for file names.
std::string dateTimeStamp(const DateTime& t);

}  // namespace qova
