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

TEST(WebServerAddress, OwnAddressesAreLoopbackAndTheMachinesOwn) {
  for (const char* a : {"127.0.0.1", "127.1.2.3"}) EXPECT_TRUE(isOwnAddress(a)) << a;
  // TEST-NET addresses are no machine's; a name or a wrong form is never own.
  for (const char* a : {"192.0.2.77", "198.51.100.1", "", "localhost", "127.0.0.1x"}) {
    EXPECT_FALSE(isOwnAddress(a)) << a;
  }
  for (const std::string& a : localIPv4Addresses()) EXPECT_TRUE(isOwnAddress(a)) << a;
}

}  // namespace
}  // namespace qova::web
