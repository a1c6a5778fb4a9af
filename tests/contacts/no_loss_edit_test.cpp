// The no-loss promise end to end: exporters' cards in the store, listed and
// sent back unchanged with edit_card as an administration page does, then
// loaded by a second reader (python3-vobject, as the CardDAV server loads
// them) and compared property by property with what was stored before.
#include <gtest/gtest.h>
#include <json/value.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "module/webapi-ContactAndCalendar.h"
#include "platform/contact_store.h"
#include "tests/appliance/host/child_process.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"
#include "tests/vcard/card_properties.h"
#include "vcard/served_line.h"

namespace {

namespace fs = std::filesystem;
using orva_test::callHandler;

const fs::path kData = fs::path(ORVA_SOURCE_DIR) / "tests/data";

// Runs a shell command; its exit status and standard output and error.
std::pair<int, std::string> runCommand(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, out};
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::map<std::string, std::string> storedCards(const std::string& user) {
  DBHandler store;
  std::map<std::string, std::string> cards;
  Json::Value ids(Json::arrayValue);
  Json::Value texts(Json::arrayValue);
  const int count = store.GetCards(ids, texts, store.GetGUID(user));
  for (int i = 0; i < count; ++i) cards[ids[i].asString()] = texts[i].asString();
  return cards;
}

class NoLossEditTest : public ::testing::Test {
 protected:
  // Every exporter's sample, stored under its file name.
  void SetUp() override {
    DBHandler store;
    store.SetupUserBasicInfo("alice");
    for (const char* exporter : {"phones", "desktop", "webmail", "carddav"}) {
      for (const auto& item : fs::directory_iterator(kData / exporter)) {
        if (item.path().extension() != ".vcf") continue;
        // As the server serves what a client stored (see served_line.h).
        std::string text;
        orva_vcard::appendServedLines(text, orva_test::readFile(item.path().string()));
        const std::string name = item.path().stem().string();
        ASSERT_TRUE(store.AddCard(store.GetGUID("alice"), name, text)) << name;
        originals_[name] = text;
      }
    }
    ASSERT_GE(originals_.size(), 12u);
  }

  std::map<std::string, Json::Value> listed() {
    Json::Value params(Json::objectValue);
    params["user"] = "alice";
    const ORVA::APIResponse response = callHandler(&ContactAndCalendarHandler::listCards, params);
    std::map<std::string, Json::Value> records;
    for (const Json::Value& record : response.Data()["cards"]) {
      records[record["id"].asString()] = record;
    }
    return records;
  }

  // The host program, as the page's requests reach the module.
  host_test::RunResult host(const char* method, const std::vector<std::string>& params) {
    std::vector<std::string> args = {"--root", root_.path(), "call",
                                     "ORVA.ContactAndCalendar.Contacts", method};
    args.insert(args.end(), params.begin(), params.end());
    return host_test::runHost(args);
  }

  // vobject's verdict on each card, stored before and after: "" when every
  // card loads and keeps its properties.
  std::string vobjectDifferences(const std::map<std::string, std::string>& after) {
    const fs::path folder = fs::path(root_.path()) / "compare";
    fs::create_directories(folder);
    for (const auto& [name, text] : originals_) {
      orva_test::writeFile((folder / (name + ".before.vcf")).string(), text);
      orva_test::writeFile((folder / (name + ".after.vcf")).string(), after.at(name));
    }
    const auto [status, out] =
        runCommand("/usr/bin/python3 '" + (kData / "compare_with_vobject.py").string() + "' '" +
                   folder.string() + "'");
    return status == 0 ? "" : out;
  }

  orva_test::TempRoot root_;
  std::map<std::string, std::string> originals_;
};

TEST_F(NoLossEditTest, ListedAndSentBackUnchangedEveryCardKeepsItsProperties) {
  const std::map<std::string, Json::Value> records = listed();
  ASSERT_EQ(records.size(), originals_.size());
  for (const auto& [name, record] : records) {
    Json::Value params(Json::objectValue);
    params["user"] = "alice";
    params["card"] = record;
    params["card"]["resource_name"] = name;
    const ORVA::APIResponse response = callHandler(&ContactAndCalendarHandler::editCard, params);
    EXPECT_TRUE(response.IsSuccess()) << name << orva_test::toJson(response.Envelope());
  }
  const std::map<std::string, std::string> first = storedCards("alice");
  ASSERT_EQ(first.size(), originals_.size());
  // Nothing was edited, so every card keeps its bytes, whoever wrote it.
  for (const auto& [name, text] : first) EXPECT_EQ(text, originals_[name]) << name;
  for (const auto& [name, text] : first) {
    EXPECT_EQ(card_properties::missingFrom(card_properties::of(originals_[name]),
                                           card_properties::of(text)),
              "")
        << name << " lost, in\n"
        << text;
  }
  EXPECT_EQ(vobjectDifferences(first), "");

  // The second round goes through the host program: the same bytes again.
  const host_test::RunResult list = host("list_cards", {"user=alice"});
  ASSERT_EQ(list.status, 0) << list.out << list.err;
  const Json::Value cards = orva_test::parseJson(list.out)["data"]["cards"];
  ASSERT_EQ(cards.size(), originals_.size());
  for (Json::Value card : cards) {
    card["resource_name"] = card["id"];
    const host_test::RunResult edit =
        host("edit_card", {"user=alice", "card:=" + orva_test::toJson(card)});
    EXPECT_EQ(edit.status, 0) << edit.out << edit.err;
  }
  EXPECT_EQ(storedCards("alice"), first);
}

TEST_F(NoLossEditTest, OnePhoneEditThroughTheHostChangesThatLineOnly) {
  // The pauses of an extension are stored escaped, as the server reads them.
  Json::Value record = listed().at("macos_company");
  const std::string before = storedCards("alice").at("macos_company");
  ASSERT_EQ(record["tel"][0]["data"], "+1 555 555 0142\\,\\,7301");
  record["tel"][0]["data"] = "+1 555 555 0143\\,\\,7301";
  record["resource_name"] = "macos_company";
  const host_test::RunResult edit =
      host("edit_card", {"user=alice", "card:=" + orva_test::toJson(record)});
  ASSERT_EQ(edit.status, 0) << edit.out << edit.err;

  const auto was = card_properties::of(before);
  const auto now = card_properties::of(storedCards("alice").at("macos_company"));
  EXPECT_EQ(card_properties::missingFrom(was, now),
            "  .TEL;TYPE=VOICE,WORK,pref,:+1 555 555 0142\\,\\,7301\n");
  EXPECT_EQ(card_properties::missingFrom(now, was),
            "  .TEL;TYPE=VOICE,WORK,pref,:+1 555 555 0143\\,\\,7301\n");
  // The company card keeps its own name.
  EXPECT_NE(storedCards("alice").at("macos_company").find("\r\nFN:Acme Corp\r\n"),
            std::string::npos);
}

}  // namespace
