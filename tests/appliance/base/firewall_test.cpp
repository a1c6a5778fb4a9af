// ORVAFwRuleHup: rules and log under the root, from every service definition.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system_services.h"
#include "tests/support/temp_root.h"

namespace {

class FirewallTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root{true};
  void define(const std::string& name, const std::string& text) {
    ASSERT_TRUE(orva_test::writeFile(root.at("/usr/local/etc/services.d/" + name), text));
  }
  std::string rules() const { return orva_test::readFile(root.at("/var/lib/firewall/rules")); }
  std::vector<std::string> log() const {
    return orva_test::readLines(root.at("/var/log/firewall.log"));
  }
};

TEST_F(FirewallTest, AppliesEveryDefinitionAndLogsThePorts) {
  define("Media.sc", "# media\n[media]\ntitle=\"x\"\ndst.ports=\"9000,6000:6010/tcp,udp\"\n");
  define(".Media.sc.tmp", "not a definition");  // temporary files are not read
  ASSERT_EQ(ORVAFwRuleHup(), 0);
  EXPECT_EQ(rules(),
            "allow tcp 9000 # Media.sc [media]\n"
            "allow tcp 6000:6010 # Media.sc [media]\n"
            "allow udp 9000 # Media.sc [media]\n"
            "allow udp 6000:6010 # Media.sc [media]\n"
            "allow tcp 8008 # Tessaro.sc [tessaro]\n"
            "allow tcp 8443 # Tessaro.sc [tessaro_ssl]\n");
  ASSERT_EQ(log().size(), 1u);
  EXPECT_NE(log()[0].find(" reload files=2 ports=9000/tcp,6000:6010/tcp,9000/udp,6000:6010/udp,"
                          "8008/tcp,8443/tcp"),
            std::string::npos)
      << log()[0];
}

TEST_F(FirewallTest, ADefinitionThatCannotBeReadOrParsedFailsTheReload) {
  ASSERT_EQ(ORVAFwRuleHup(), 0);
  const std::string applied = rules();
  for (const char* broken :
       {"key=outside any section\n", "[a]\nno equals sign\n", "[a]\ndst.ports=\"70000/tcp\"\n",
        "[a]\ndst.ports=\"80/sctp\"\n", "[a]\ndst.ports=\"9:8/tcp\"\n", "[a\nk=1\n"}) {
    define("Broken.sc", broken);
    EXPECT_LT(ORVAFwRuleHup(), 0) << broken;
  }
  ASSERT_EQ(::unlink(root.at("/usr/local/etc/services.d/Broken.sc").c_str()), 0);
  ASSERT_EQ(::symlink("/nonexistent", root.at("/usr/local/etc/services.d/Gone.sc").c_str()), 0);
  EXPECT_LT(ORVAFwRuleHup(), 0);
  EXPECT_EQ(rules(), applied);
  EXPECT_EQ(log().size(), 1u);
}

TEST_F(FirewallTest, AMissingServicesFolderFailsTheReload) {
  orva_test::TempRoot bare;
  EXPECT_LT(ORVAFwRuleHup(), 0);
}

}  // namespace
