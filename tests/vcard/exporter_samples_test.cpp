// Cards as phones, desktop address books, webmail and CardDAV clients write
// them (tests/data/<exporter>/*.vcf), each beside the record that reading it
// must give (*.json). Every sample is read, written back unchanged and
// compared property by property; a second write-back gives the same bytes;
// editing one phone number changes that one TEL line only.
//
// ORVA_WRITE_SAMPLE_RECORDS=1 writes the *.json files from the reader, for a
// new sample (check the result by eye before keeping it).
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "appliance/store/card_check.h"
#include "tests/support/temp_root.h"
#include "tests/vcard/card_properties.h"
#include "vcard/card_reader.h"
#include "vcard/card_writer.h"
#include "vcard/served_line.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> samples(const std::string& exporter) {
  std::vector<fs::path> paths;
  for (const auto& item :
       fs::directory_iterator(fs::path(ORVA_SOURCE_DIR) / "tests/data" / exporter)) {
    if (item.path().extension() == ".vcf") paths.push_back(item.path());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

Json::Value readRecord(const std::string& text) {
  Json::Value labels;
  Json::Value record;
  orva_vcard::readLabels(text, labels);
  orva_vcard::readCardText(text, labels, record);
  return record;
}

// Written back as edit_card does: the card's own lines open it.
std::string writeBack(Json::Value record) {
  record["id"] = "";
  return orva_vcard::writeCard(record);
}

void checkRecord(const fs::path& vcf, const Json::Value& record) {
  fs::path json = vcf;
  json.replace_extension(".json");
  if (std::getenv("ORVA_WRITE_SAMPLE_RECORDS") != nullptr) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    std::ofstream(json) << Json::writeString(builder, record) << "\n";
  }
  ASSERT_TRUE(fs::exists(json)) << json;
  const Json::Value expected = orva_test::parseJson(orva_test::readFile(json.string()));
  EXPECT_EQ(orva_test::toJson(record), orva_test::toJson(expected));
}

void checkSample(const fs::path& vcf) {
  SCOPED_TRACE(vcf.filename().string());
  // As a client stored it through the server, which takes lines it would
  // serve otherwise (bare parameters, a ',' in a phone number); the store
  // holds it as the server serves it.
  const std::string client = orva_test::readFile(vcf.string());
  std::string original;
  orva_vcard::appendServedLines(original, client);
  ASSERT_EQ(orva_store::cardTextRefusal(original), "") << "the sample must be a storable card";

  const Json::Value record = readRecord(client);
  checkRecord(vcf, record);

  // A no-op edit keeps every property, and the store takes the result.
  const std::string written = writeBack(record);
  EXPECT_EQ(orva_store::cardTextRefusal(written), "") << written;
  const auto before = card_properties::of(original);
  const auto after = card_properties::of(written);
  EXPECT_EQ(card_properties::missingFrom(before, after), "") << "lost, in\n" << written;
  EXPECT_EQ(card_properties::missingFrom(after, before), "") << "added, in\n" << written;

  // A second no-op edit writes the same bytes.
  Json::Value reread = readRecord(written);
  EXPECT_EQ(writeBack(reread), written);

  // Changing one phone number changes that TEL line and nothing else.
  if (record["tel"].empty()) return;
  Json::Value edited = record;
  edited["tel"][0]["data"] = "+1 555 000 9999";
  const auto changed = card_properties::of(writeBack(edited));
  const std::string lost = card_properties::missingFrom(after, changed);
  const std::string added = card_properties::missingFrom(changed, after);
  EXPECT_NE(lost.find("TEL;"), std::string::npos) << lost;
  EXPECT_EQ(std::count(lost.begin(), lost.end(), '\n'), 1) << lost;
  EXPECT_NE(added.find("TEL;"), std::string::npos) << added;
  EXPECT_NE(added.find(":+1 555 000 9999\n"), std::string::npos) << added;
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
}

void checkExporter(const std::string& exporter) {
  const std::vector<fs::path> paths = samples(exporter);
  ASSERT_FALSE(paths.empty());
  for (const fs::path& path : paths) checkSample(path);
}

TEST(ExporterSamples, Phones) { checkExporter("phones"); }
TEST(ExporterSamples, DesktopAddressBooks) { checkExporter("desktop"); }
TEST(ExporterSamples, Webmail) { checkExporter("webmail"); }
TEST(ExporterSamples, CardDavWrittenFoldedCards) { checkExporter("carddav"); }

// The comparison itself must see the damage it is there to catch.
TEST(ExporterSamples, ComparisonSeesLostAndChangedProperties) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u\r\nFN:A\r\nN:Doe;Jane;;;\r\n"
      "item1.TEL;TYPE=CELL,VOICE:+1 555,,7\r\nitem1.X-ABLABEL:Gym\r\n"
      "ADR:;Attn: Desk;1 Main;;;;\r\nBDAY:1990-01-01\r\nEND:VCARD\r\n";
  const auto properties = card_properties::of(card);
  auto changed = [&](const std::string& from, const std::string& to) {
    std::string text = card;
    text.replace(text.find(from), from.size(), to);
    return card_properties::of(text) != properties;
  };
  EXPECT_TRUE(changed("BDAY:1990-01-01\r\n", ""));
  EXPECT_TRUE(changed("item1.TEL", "TEL"));
  EXPECT_TRUE(changed("+1 555,,7", "7"));
  EXPECT_TRUE(changed("ADR:;Attn: Desk;1 Main;;;;", "ADR:;;;Attn"));
  EXPECT_TRUE(changed("TYPE=CELL,VOICE", "TYPE=CELL"));
  EXPECT_TRUE(changed("N:Doe;Jane;;;", "N:Doe;Jane;;Dr.;"));
  // What the promise lets change does not count.
  EXPECT_TRUE(changed("FN:A", "FN:Doe Jane "));
  EXPECT_TRUE(changed("BDAY:", "BDAY;VALUE=date:"));
  EXPECT_TRUE(changed("ADR:;Attn: Desk;1 Main;;;;", "WORK.ADR:;Attn: Desk;1 Main;;;;"));
  EXPECT_FALSE(changed("TYPE=CELL,VOICE", "type=\"VOICE,CELL\""));
  EXPECT_FALSE(changed("item1.X-ABLABEL", "ITEM1.x-ablabel"));
  EXPECT_FALSE(changed("N:Doe;Jane;;;", "N:Doe;Jane"));
  EXPECT_FALSE(changed("UID:u\r\n", "UID:u\r\nNOTE:\r\n"));
  EXPECT_FALSE(changed("VERSION:3.0\r\n", "VER\r\n SION:3.0\r\n"));
}

}  // namespace
