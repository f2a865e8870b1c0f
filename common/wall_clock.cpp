#include "common/wall_clock.h"

#include <cstdio>
#include <ctime>

namespace qova {

DateTime localNow() {
  std::time_t now = std::time(nullptr);
  std::tm parts = {};
#ifdef _WIN32
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  DateTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  return t;
}

std::string dateTimeText(const DateTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

std::string dateTimeStamp(const DateTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

}  // namespace qova
