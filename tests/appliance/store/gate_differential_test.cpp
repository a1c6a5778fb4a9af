// The store's gate is at least as strict as the CardDAV server: 30,000
// generated hostile cards go to both, and none that the gate takes may be one
// the server refuses to load or serve, or serves with other properties than
// the card stored (clients would read another card). The long run by hand:
// scripts/gate-differential.sh.
#include "tests/appliance/store/gate_differential.h"

#include <gtest/gtest.h>

#include "tests/support/temp_root.h"

namespace {

TEST(GateDifferential, NoCardTheGateTakesIsOneTheServerRefuses) {
  orva_test::TempRoot root;
  const auto counts = orva_test::runDifferential(
      1, 0, 30000, 2, root.path() + "/cards",
      std::string(ORVA_SOURCE_DIR) + "/tests/appliance/store/server_check.py");
  ASSERT_TRUE(counts.checked) << "the server's own check did not run";
  EXPECT_EQ(counts.cards, 30000u);
  EXPECT_EQ(counts.takenButRefused, 0u) << "see the cards on standard error";
  EXPECT_EQ(counts.servedOtherwise, 0u) << "see the cards on standard error";
  EXPECT_EQ(counts.compared, counts.taken);
  EXPECT_EQ(counts.compared, counts.taken);
  // The series must hold both kinds, or it tests nothing.
  EXPECT_GT(counts.taken, 3000u);
  EXPECT_LT(counts.taken, 24000u);
}

// The server's verdicts that the gate rests on, one by one: each card is one
// the server refuses (so the gate must too) or serves.
TEST(GateDifferential, TheServerRefusesWhatTheGateRefusesForIt) {
  orva_test::TempRoot root;
  const std::string head = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\nFN:x\r\n";
  const std::string tail = "END:VCARD\r\n";
  const std::vector<std::string> refused = {"PHOTO;ENCODING=b:A\r\n",
                                            "PHOTO;ENCODING=b:AAA\r\n",
                                            "PHOTO;ENCODING=BASE64:AAAA\r\n",
                                            "PHOTO;ENCODING=binary:AAAA\r\n",
                                            "PROFILE:VCard\r\n",
                                            "ORG:Acme, Inc.\r\n",
                                            "ORG:Acme;Sales, East\r\n",
                                            "PRODID:a\r\nPRODID:b\r\n",
                                            "item1.CATEGORIES:a\r\n",
                                            "N:a\r\nN:b\r\n"};
  std::string frames;
  for (const std::string& lines : refused) {
    const std::string text = head + lines + tail;
    EXPECT_NE(orva_store::cardTextRefusal(text), "") << lines;
    frames += "T " + std::to_string(text.size()) + "\n" + text;
  }
  const std::string path = root.path() + "/cards";
  ASSERT_TRUE(orva_test::writeFile(path, frames));
  FILE* pipe = ::popen(("/usr/bin/python3 '" + std::string(ORVA_SOURCE_DIR) +
                        "/tests/appliance/store/server_check.py' '" + path + "' 1 2>/dev/null")
                           .c_str(),
                       "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512] = {};
  const std::string output = ::fgets(buffer, sizeof buffer, pipe) ? buffer : "";
  ::pclose(pipe);
  EXPECT_EQ(orva_test::jsonCount(output, "taken_but_refused"), refused.size()) << output;
}

}  // namespace
