// OLIBCExec: runs a program under the root, without a shell, and reports
// whether it succeeded.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "appliance/base/appliance_root.h"
#include "appliance/base/file_io.h"
#include "platform/system_services.h"
#include "tests/support/temp_root.h"

namespace {

class ProgramExecTest : public ::testing::Test {
 protected:
  orva_test::TempRoot root;
  void SetUp() override { ASSERT_TRUE(orva_file::makeFolders(root.at("/bin"))); }
  void program(const std::string& name, const std::string& body) {
    ASSERT_TRUE(orva_test::writeFile(root.at("/bin/" + name), "#!/bin/sh\n" + body + "\n"));
    ASSERT_EQ(::chmod(root.at("/bin/" + name).c_str(), 0755), 0);
  }
};

TEST_F(ProgramExecTest, PassesItsArgumentsUnchangedAndTheRootInTheEnvironment) {
  program("args",
          "for a in \"$@\"; do echo \"[$a]\"; done > \"$ORVA_ROOT/out\"; echo \"$0\" >> "
          "\"$ORVA_ROOT/out\"");
  ASSERT_EQ(OLIBCExec("/bin/args", "a b", "$HOME", ";", "*"), 0);
  EXPECT_EQ(orva_test::readFile(root.at("/out")),
            "[a b]\n[$HOME]\n[;]\n[*]\n" + root.at("/bin/args") + "\n");
  ASSERT_EQ(OLIBCExec("/bin/args", "one", nullptr, "ignored", nullptr), 0);
  EXPECT_EQ(orva_test::readFile(root.at("/out")), "[one]\n" + root.at("/bin/args") + "\n");
}

TEST_F(ProgramExecTest, FailsWhenTheProgramFailsOrCannotStart) {
  program("fail", "exit 3");
  program("killed", "kill -9 $$");
  EXPECT_LT(OLIBCExec("/bin/fail", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_LT(OLIBCExec("/bin/killed", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_LT(OLIBCExec("/bin/missing", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_LT(OLIBCExec("bin/fail", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_LT(OLIBCExec(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  ASSERT_TRUE(
      orva_test::writeFile(root.at("/bin/plain"), "#!/bin/sh\nexit 0\n"));  // not executable
  EXPECT_LT(OLIBCExec("/bin/plain", nullptr, nullptr, nullptr, nullptr), 0);
}

}  // namespace
