#include "common/run_log.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/test_support.h"

namespace qova {
namespace {

using testing::readFileBytes;

uint32_t fakeNow = 0;
uint32_t fakeTicks() { return fakeNow; }

const std::string kBanner =
    "\r\n"
    "+-------------------------+\r\n"
    "|     *Program Start*     |\r\n"
    "+-------------------------+\r\n"
    "\r\n";

std::string runningTime(uint32_t ms) {
  return "\r\n//Running time: " + std::to_string(ms) + " ms\r\n";
}

// A log whose program started at `start`.
RunLog logStartedAt(uint32_t start) {
  fakeNow = start;
  return RunLog(fakeTicks);
}

TEST(RunLog, FirstMessageOfARunInTheDefaultFile) {
  testing::TempDir dir;
  testing::WorkingDir cwd(dir.path());
  RunLog log = logStartedAt(5000);
  fakeNow = 6234;
  log.write("Error loading questions.", nullptr);
  EXPECT_EQ(readFileBytes(dir.file("errLog.txt")),
            kBanner + runningTime(1234) + "Error loading questions. - 1\r\n");
}

TEST(RunLog, CountsAndTheQuietInterval) {
  testing::TempDir dir;
  std::string path = dir.file("log.txt");
  RunLog log = logStartedAt(0);
  fakeNow = 1000;
  log.write("Boom", path.c_str());
  fakeNow = 1400;  // exactly 400 ms later: no running-time line
  log.write("Boom", nullptr);
  fakeNow = 1500;
  log.write("boom", nullptr);  // letter case makes another message
  fakeNow = 1901;              // 401 ms after the previous write
  log.write("Boom", nullptr);
  EXPECT_EQ(readFileBytes(path), kBanner + runningTime(1000) + "Boom - 1\r\n" + "Boom - 2\r\n" +
                                     "boom - 1\r\n" + runningTime(1901) + "Boom - 3\r\n");
}

TEST(RunLog, ASecondRunAppendsItsOwnBanner) {
  testing::TempDir dir;
  std::string path = dir.file("log.txt");
  {
    RunLog first = logStartedAt(100);
    fakeNow = 700;
    first.write("Gone", path.c_str());
  }
  RunLog second = logStartedAt(50);
  fakeNow = 70;
  second.write("Gone", path.c_str());
  // The second run's first write comes within 400 ms of tick 0, so only the
  // banner marks the new run.
  EXPECT_EQ(readFileBytes(path),
            kBanner + runningTime(600) + "Gone - 1\r\n" + kBanner + "Gone - 1\r\n");
}

TEST(RunLog, EachFileHasItsOwnBannerCountsAndTimer) {
  testing::TempDir dir;
  std::string a = dir.file("a.txt");
  std::string b = dir.file("b.txt");
  RunLog log = logStartedAt(0);
  fakeNow = 1000;
  log.write("M", a.c_str());
  fakeNow = 1100;
  log.write("M", b.c_str());
  fakeNow = 1200;  // 200 ms after a's last write
  log.write("M", a.c_str());
  fakeNow = 1300;
  log.write("M", "");  // empty name: stays with a
  EXPECT_EQ(readFileBytes(a),
            kBanner + runningTime(1000) + "M - 1\r\n" + "M - 2\r\n" + "M - 3\r\n");
  EXPECT_EQ(readFileBytes(b), kBanner + runningTime(1100) + "M - 1\r\n");
  ASSERT_EQ(log.files().size(), 2u);
  EXPECT_EQ(log.files()[0].name, a);
  EXPECT_EQ(log.files()[0].lastWriteTick, 1300u);
  EXPECT_EQ(log.files()[1].counts, std::vector<int32_t>{1});
}

TEST(RunLog, NullMessageOnlySwitchesTheFile) {
  testing::TempDir dir;
  std::string a = dir.file("a.txt");
  std::string b = dir.file("b.txt");
  RunLog log = logStartedAt(0);
  fakeNow = 1000;
  log.write("M", a.c_str());
  log.write(nullptr, b.c_str());
  EXPECT_FALSE(testing::fileExists(b));
  EXPECT_EQ(log.files().size(), 1u);
  log.write("N", nullptr);
  EXPECT_EQ(readFileBytes(b), kBanner + runningTime(1000) + "N - 1\r\n");
}

TEST(RunLog, UnwritableFileStillAdvancesTheState) {
  testing::TempDir dir;
  std::string missing = dir.file("no-such-folder/log.txt");
  std::string good = dir.file("log.txt");
  RunLog log = logStartedAt(0);
  fakeNow = 1000;
  log.write("M", missing.c_str());
  fakeNow = 1100;
  log.write("M", nullptr);
  ASSERT_EQ(log.files().size(), 1u);
  const RunLogFile& f = log.files()[0];
  EXPECT_FALSE(f.bannerPending);
  EXPECT_EQ(f.counts, std::vector<int32_t>{2});
  EXPECT_EQ(f.lastWriteTick, 1100u);
  EXPECT_FALSE(testing::fileExists(missing));
  // Another file is not affected.
  log.write("M", good.c_str());
  EXPECT_EQ(readFileBytes(good), kBanner + runningTime(1100) + "M - 1\r\n");
}

TEST(RunLog, TickArithmeticWrapsAround) {
  testing::TempDir dir;
  std::string path = dir.file("log.txt");
  RunLog log = logStartedAt(0xFFFFFE00u);
  fakeNow = 0xFFFFFF00u;
  log.write("W", path.c_str());
  fakeNow = 100;  // 356 ms later across the wrap
  log.write("W", nullptr);
  fakeNow = 600;
  log.write("W", nullptr);
  EXPECT_EQ(readFileBytes(path), kBanner + runningTime(256) + "W - 1\r\n" + "W - 2\r\n" +
                                     runningTime(1112) + "W - 3\r\n");
}

}  // namespace
}  // namespace qova
