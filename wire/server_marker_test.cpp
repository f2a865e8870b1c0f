#include "wire/server_marker.h"

#include <gtest/gtest.h>

#include "testing/test_support.h"

namespace qova {
namespace {

TEST(ServerMarkerTest, DottedForm) {
  for (const char* good : {"0.0.0.0", "192.168.1.20", "255.255.255.255"}) {
    EXPECT_TRUE(isDottedIPv4(good)) << good;
  }
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 ", "a.b.c.d",
                          "1234.1.1.1", "1.2.3."}) {
    EXPECT_FALSE(isDottedIPv4(bad)) << bad;
  }
}

TEST(ServerMarkerTest, HoldsTheAddressWithoutLineEnd) {
  testing::TempDir dir;
  std::string marker = dir.file("hostIP.dat");
  writeServerMarker(marker, "192.168.1.20");
  EXPECT_EQ(testing::readFileBytes(marker), "192.168.1.20");
  writeServerMarker(marker, "10.0.0.1");
  EXPECT_EQ(testing::readFileBytes(marker), "10.0.0.1");
  writeServerMarker(dir.file("no-such-folder/hostIP.dat"), "10.0.0.1");  // silently nothing
  EXPECT_FALSE(testing::fileExists(dir.file("no-such-folder/hostIP.dat")));
}

// One rule for every reader: what the server writes, blanks and line ends
// around it allowed; a host name or a port is not a marker.
TEST(ServerMarkerTest, ReadsADottedAddressAndNothingElse) {
  struct {
    const char* bytes;
    const char* address;  // nullptr: not read
  } cases[] = {
      {"192.168.1.20", "192.168.1.20"},
      {" 10.0.0.5\r\n", "10.0.0.5"},
      {"\t10.0.0.5\n\n", "10.0.0.5"},
      {"", nullptr},
      {" \r\n", nullptr},
      {"not an address", nullptr},
      {"quizhost", nullptr},
      {"10.0.0.5:7000", nullptr},
      {"10.0.0.5\r\n10.0.0.6", nullptr},
      {"300.0.0.1", nullptr},
  };
  testing::TempDir dir;
  std::string marker = dir.file("hostIP.dat");
  std::string address = "untouched";
  EXPECT_FALSE(readServerMarker(marker, &address));  // no file
  EXPECT_EQ(address, "untouched");
  for (const auto& c : cases) {
    ASSERT_TRUE(testing::writeFileBytes(marker, c.bytes));
    address = "untouched";
    EXPECT_EQ(readServerMarker(marker, &address), c.address != nullptr) << c.bytes;
    EXPECT_EQ(address, c.address ? c.address : "untouched") << c.bytes;
  }
}

}  // namespace
}  // namespace qova
