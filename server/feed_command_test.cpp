#include "server/feed_command.h"

#include <gtest/gtest.h>

#include <string>

namespace qova {
namespace {

// Every line a feed client may send after its greeting: what it reads as,
// and whether it is a command line at all (false closes the client).
TEST(FeedCommand, ReadsEachVerbAndRefusesWhatIsNoCommand) {
  struct Case {
    std::string line;
    bool isCommand;
    FeedVerb verb;
    const char* tag;
    bool on;
    int32_t player;
  };
  const Case cases[] = {
      {"COMMAND\t1\tSTART", true, FeedVerb::kStart, "1", false, 0},
      {"COMMAND\t123456789\tEND QUESTION", true, FeedVerb::kEndQuestion, "123456789", false, 0},
      {"COMMAND\t07\tHOLD", true, FeedVerb::kHold, "07", false, 0},
      {"COMMAND\t0\tGO ON", true, FeedVerb::kGoOn, "0", false, 0},
      {"COMMAND\t5\tHOLD AFTER ROUND\t1", true, FeedVerb::kHoldAfterRound, "5", true, 0},
      {"COMMAND\t5\tHOLD AFTER ROUND\t0", true, FeedVerb::kHoldAfterRound, "5", false, 0},
      {"COMMAND\t9\tREMOVE\t42", true, FeedVerb::kRemove, "9", false, 42},
      {"COMMAND\t9\tREMOVE\t999999999", true, FeedVerb::kRemove, "9", false, 999999999},
      // A valid tag with anything else: answered "Unknown command."
      {"COMMAND\t3\tQUIT", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\t", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tstart", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tSTART\t1", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tHOLD\t", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tHOLD AFTER ROUND", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tHOLD AFTER ROUND\t2", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tHOLD AFTER ROUND\t1\t1", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tREMOVE", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tREMOVE\t", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tREMOVE\t-1", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tREMOVE\t1234567890", true, FeedVerb::kUnknown, "3", false, 0},
      {"COMMAND\t3\tREMOVE\t1 ", true, FeedVerb::kUnknown, "3", false, 0},
      // No command line: the client is closed.
      {"", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t\tSTART", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1234567890\tSTART", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1a\tSTART", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t-1\tSTART", false, FeedVerb::kUnknown, "", false, 0},
      {"command\t1\tSTART", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND 1 START", false, FeedVerb::kUnknown, "", false, 0},
      {"QOVA ROOM FEED\t1", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1\tSTART\rX", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1\tGO\nON", false, FeedVerb::kUnknown, "", false, 0},
      {"COMMAND\t1\tHOLD" + std::string(257 - 14, ' '), false, FeedVerb::kUnknown, "", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FeedCommand command;
    command.tag = "unset";
    ASSERT_EQ(parseFeedCommand(c.line, &command), c.isCommand);
    if (!c.isCommand) {
      EXPECT_EQ(command.tag, "unset");  // left as it was
      continue;
    }
    EXPECT_EQ(command.verb, c.verb);
    EXPECT_EQ(command.tag, c.tag);
    EXPECT_EQ(command.on, c.on);
    EXPECT_EQ(command.player, c.player);
  }
  // The longest line taken: 256 bytes.
  std::string longest = "COMMAND\t1\tHOLD";
  longest += std::string(kMaxFeedCommandLine - longest.size(), 'x');
  FeedCommand command;
  EXPECT_TRUE(parseFeedCommand(longest, &command));
  EXPECT_EQ(command.verb, FeedVerb::kUnknown);
}

}  // namespace
}  // namespace qova
