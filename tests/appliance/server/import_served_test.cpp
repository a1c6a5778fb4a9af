// An import of the files people have, damaged lines and all, leaves a book
// the real server serves whole: every stored card comes back in one REPORT.
#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

TEST_F(ServerTest, AnImportOfDamagedCardsLeavesABookTheServerServes) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  const std::string file =
      // iPhone line ends, a PROFILE line, a photo that does not decode
      "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nPROFILE:VCard\r\r\nFN:Ann Lee\r\r\n"
      "PHOTO;ENCODING=b:A\r\r\nORG:Acme, Inc.\r\r\nEND:VCARD\r\r\n"
      // a desktop address book's name with '/', a form feed, a named BASE64
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Roe\r\nX-messaging/xmpp-All:bob@example.org\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:a=0Cb\r\nLOGO;ENCODING=BASE64:QUJD\r\n"
      "KEY;ENCODING=binary:QUJD\r\nPRODID:-//a\r\nPRODID:-//b\r\nEND:VCARD\r\n"
      // a 2.1 card with an unpadded block and a stray byte in UTF-8
      "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=UTF-8:Cy \xC3\x91u\xFF\r\n"
      "PHOTO;BASE64:\r\n QUI\r\n\r\nitem1.CATEGORIES:x\r\nEND:VCARD\r\n";
  const std::string path = root.path() + "/damaged.vcf";
  ASSERT_TRUE(orva_test::writeFile(path, file));
  const Json::Value imported =
      contacts("import_cards", "user=alice " + quote("file_tmp=" + path) + " file=damaged.vcf");
  ASSERT_EQ(imported["success"], true) << orva_test::toJson(imported);
  EXPECT_EQ(imported["data"]["stored"], 3);
  EXPECT_EQ(imported["data"]["skipped"], 0);

  const Answer seen = report(httpBase(http));
  ASSERT_EQ(seen.code, 207) << seen.body;
  std::size_t cards = 0;
  for (std::size_t at = seen.body.find("BEGIN:VCARD"); at != std::string::npos;
       at = seen.body.find("BEGIN:VCARD", at + 1)) {
    ++cards;
  }
  EXPECT_EQ(cards, 3u) << seen.body;
  for (const char* served : {"FN:Ann Lee", "ORG:Acme\\, Inc.", "FN:Bob Roe", "LOGO;ENCODING=b:QUJD",
                             "FN:Cy \xC3\x91u\xEF\xBF\xBD", "PHOTO;ENCODING=b:QUI="}) {
    EXPECT_TRUE(seen.has(served)) << served << "\n" << seen.body;
  }
}

}  // namespace
}  // namespace server_test
