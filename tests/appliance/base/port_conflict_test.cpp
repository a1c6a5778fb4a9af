// WebUtils::IsPortConflict on its own.
#include "appliance/base/port_conflict.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "appliance/base/appliance_root.h"
#include "platform/system_services.h"
#include "tests/support/temp_root.h"

namespace {

class PortConflictTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};
  void define(const std::string& name, const std::string& text) {
    ASSERT_TRUE(orva_test::writeFile(root.at("/usr/local/etc/services.d/" + name), text));
  }
  static bool conflict(int port) { return WebUtils::IsPortConflict("tessaro", port, port); }
};

TEST_F(PortConflictTest, PortsOutsideTheTcpRangeConflict) {
  EXPECT_TRUE(conflict(0));
  EXPECT_TRUE(conflict(-1));
  EXPECT_TRUE(conflict(65536));
  EXPECT_FALSE(conflict(1));
  EXPECT_FALSE(conflict(65535));
  EXPECT_TRUE(WebUtils::IsPortConflict("tessaro", 9000, 8999));  // an empty range
}

TEST_F(PortConflictTest, ReservedPortsConflictButTheServersDefaultsDoNot) {
  for (const int port : orva_services::kReservedPorts) EXPECT_TRUE(conflict(port)) << port;
  EXPECT_FALSE(conflict(8008));
  EXPECT_FALSE(conflict(8443));
  EXPECT_TRUE(WebUtils::IsPortConflict("tessaro", 4990, 5010));  // a range over 5000
}

TEST_F(PortConflictTest, PortsOfOtherServiceDefinitionsConflict) {
  define("Media.sc", "[media]\ndst.ports=\"9000/tcp\"\n[web]\ndst.ports=\"7080,7443/tcp\"\n");
  define("Games.sc", "[games]\ndst.ports = 6000:6010/tcp\n");
  for (const int port : {9000, 7080, 7443, 6000, 6005, 6010}) EXPECT_TRUE(conflict(port)) << port;
  for (const int port : {8999, 9001, 7081, 5999, 6011}) EXPECT_FALSE(conflict(port)) << port;
  EXPECT_TRUE(WebUtils::IsPortConflict("tessaro_ssl", 5990, 6000));
}

TEST_F(PortConflictTest, TheServersOwnDefinitionAndUdpPortsDoNotConflict) {
  // Tessaro.sc (seeded) lists 8008 and 8443.
  EXPECT_FALSE(conflict(8008));
  define("Dns.sc", "[dns]\ndst.ports=\"5353/udp\"\n[both]\ndst.ports=\"5354/tcp,udp\"\n");
  EXPECT_FALSE(conflict(5353));
  EXPECT_TRUE(conflict(5354));
}

TEST_F(PortConflictTest, UnreadablePartsOfADefinitionClaimNothing) {
  define("Messy.sc", "garbage line\n[m]\ndst.ports=\"bad\"\n[n]\ndst.ports=\"9100/tcp\"\n");
  define(".Hidden.sc", "[h]\ndst.ports=\"9200/tcp\"\n");
  EXPECT_TRUE(conflict(9100));
  EXPECT_FALSE(conflict(9200));
  ASSERT_EQ(::symlink("/nonexistent", root.at("/usr/local/etc/services.d/Dangling.sc").c_str()), 0);
  EXPECT_TRUE(conflict(9100));
}

}  // namespace
