// An import of the files people have, damaged lines and all, leaves a book
// the real server serves whole: every stored card comes back in one REPORT.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

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

// After an import the store has the server's cache built in the background:
// the server then serves the cards from those entries (it rewrites none of
// them) and gives exactly what it gives when it builds them itself.
TEST_F(ServerTest, AnImportsCacheWarmUpServesWhatAColdServerServes) {
  const int http = freePort(), https = freePort();
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  std::string file;
  for (int i = 0; i < 200; ++i) {
    file += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " + std::to_string(i) + "\r\nN:Person;" +
            std::to_string(i) +
            ";;;\r\nORG:Acme, Inc.\r\n"
            "NOTE:a note\\, folded over\r\n  two lines\r\nEND:VCARD\r\n";
  }
  const std::string path = root.path() + "/many.vcf";
  ASSERT_TRUE(orva_test::writeFile(path, file));
  const Json::Value imported =
      contacts("import_cards", "user=alice " + quote("file_tmp=" + path) + " file=many.vcf");
  ASSERT_EQ(imported["data"]["stored"], 200) << orva_test::toJson(imported);

  const std::filesystem::path cache = root.at(std::string(kBook) + "/.Radicale.cache/item");
  const auto entries = [&] {
    std::map<std::string, std::string> found;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(cache, ignored)) {
      const std::string name = entry.path().filename().string();
      if (name[0] != '.') found[name] = orva_test::readFile(entry.path().string());
    }
    return found;
  };
  // The warm-up runs on its own; it is waited for, not timed.
  for (int i = 0; i < 1200 && entries().size() < 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const auto warmed = entries();
  ASSERT_EQ(warmed.size(), 200u);

  const Answer fromWarmed = report(httpBase(http));
  ASSERT_EQ(fromWarmed.code, 207) << fromWarmed.body;
  EXPECT_EQ(entries(), warmed) << "the server rebuilt entries it should have taken";

  std::filesystem::remove_all(cache.parent_path());
  const Answer cold = report(httpBase(http));
  ASSERT_EQ(cold.code, 207) << cold.body;
  EXPECT_EQ(fromWarmed.body, cold.body);
  EXPECT_EQ(entries().size(), 200u);
}

}  // namespace
}  // namespace server_test
