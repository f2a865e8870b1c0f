#include "common/durable_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace qova {
namespace {

// The platform's steps, each noted as it runs; `failing` makes that step
// fail without doing it.
struct RecordingOps {
  std::vector<std::string> steps;
  std::string failing;

  FileOps ops() {
    FileOps real = platformFileOps();
    FileOps o;
    o.create = [this, real](const std::string& path) -> intptr_t {
      steps.push_back("create " + leaf(path));
      return failing == "create" ? -1 : real.create(path);
    };
    o.write = [this, real](intptr_t f, const std::string& bytes) {
      steps.push_back("write " + std::to_string(bytes.size()));
      return failing != "write" && real.write(f, bytes);
    };
    o.flush = [this, real](intptr_t f) {
      steps.push_back("flush");
      return failing != "flush" && real.flush(f);
    };
    o.close = [this, real](intptr_t f) {
      steps.push_back("close");
      return real.close(f) && failing != "close";
    };
    o.replace = [this, real](const std::string& from, const std::string& to) {
      steps.push_back("replace " + leaf(from) + " " + leaf(to));
      return failing != "replace" && real.replace(from, to);
    };
    o.remove = [this, real](const std::string& path) {
      steps.push_back("remove " + leaf(path));
      real.remove(path);
    };
    return o;
  }

  static std::string leaf(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
  }
};

TEST(ReplaceFile, FlushesTheTemporaryFileBeforeItReplacesTheTarget) {
  testing::TempDir dir;
  const std::string target = dir.file("scores.txt");
  ASSERT_TRUE(testing::writeFileBytes(target, "old"));
  RecordingOps recording;
  ASSERT_TRUE(replaceFile(target, "new bytes", recording.ops()));
  EXPECT_EQ(recording.steps,
            (std::vector<std::string>{"create scores.txt.tmp", "write 9", "flush", "close",
                                      "replace scores.txt.tmp scores.txt"}));
  EXPECT_EQ(testing::readFileBytes(target), "new bytes");
  EXPECT_FALSE(testing::fileExists(temporaryFileFor(target)));
}

TEST(ReplaceFile, AFailingStepLeavesTheOldFileAndNoTemporaryFile) {
  for (const char* failing : {"create", "write", "flush", "close", "replace"}) {
    SCOPED_TRACE(failing);
    testing::TempDir dir;
    const std::string target = dir.file("scores.txt");
    ASSERT_TRUE(testing::writeFileBytes(target, "old"));
    RecordingOps recording;
    recording.failing = failing;
    EXPECT_FALSE(replaceFile(target, "new", recording.ops()));
    EXPECT_EQ(testing::readFileBytes(target), "old");
    EXPECT_FALSE(testing::fileExists(temporaryFileFor(target)));
    // Nothing is renamed over the target once a step before has failed.
    const bool renamed = std::find(recording.steps.begin(), recording.steps.end(),
                                   "replace scores.txt.tmp scores.txt") != recording.steps.end();
    EXPECT_EQ(renamed, std::string(failing) == "replace");
  }
}

TEST(ReplaceFile, CreatesANewFileAndFailsInAMissingFolder) {
  testing::TempDir dir;
  EXPECT_TRUE(replaceFile(dir.file("fresh.csv"), std::string("\xFF\xFE\0a", 4)));
  EXPECT_EQ(testing::readFileBytes(dir.file("fresh.csv")), std::string("\xFF\xFE\0a", 4));
  EXPECT_TRUE(replaceFile(dir.file("empty.txt"), ""));
  EXPECT_TRUE(testing::fileExists(dir.file("empty.txt")));
  EXPECT_FALSE(replaceFile(dir.file("no such folder/x.txt"), "x"));
}

}  // namespace
}  // namespace qova
