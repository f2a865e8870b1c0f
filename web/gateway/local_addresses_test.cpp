#include "web/gateway/local_addresses.h"

#include <gtest/gtest.h>

#include "testing/test_support.h"
#include "wire/server_marker.h"

namespace qova::web {
namespace {

TEST(WebServerAddress, OptionThenMarkerFileThenLoopback) {
  qova::testing::TempDir dir;
  std::string marker = dir.file("hostIP.dat");
  std::string source;
  EXPECT_EQ(chooseServerAddress("", marker, &source), "127.0.0.1");
  EXPECT_EQ(source, "default");
  qova::testing::writeFileBytes(marker, "192.168.1.20");
  EXPECT_EQ(chooseServerAddress("", marker, &source), "192.168.1.20");
  EXPECT_EQ(source, "marker file");
  EXPECT_EQ(chooseServerAddress("10.0.0.5", marker, &source), "10.0.0.5");
  EXPECT_EQ(source, "--server");
  qova::testing::writeFileBytes(marker, "not an address");
  EXPECT_EQ(chooseServerAddress("", marker, &source), "127.0.0.1");
}

TEST(WebServerAddress, LocalAddressesLeaveLoopbackOutUnlessAlone) {
  std::vector<std::string> list = localIPv4Addresses();
  ASSERT_FALSE(list.empty());
  for (const std::string& a : list) {
    EXPECT_TRUE(isDottedIPv4(a)) << a;
    if (list.size() > 1) {
      EXPECT_NE(a.substr(0, 4), "127.") << a;
    }
  }
}

}  // namespace
}  // namespace qova::web
