// The search as people type it: a table of keys and the records they find,
// and the promise that every card the plain search finds is still found.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "contacts/search_text.h"
#include "module/webapi-ContactAndCalendar.h"
#include "tests/support/handler_call.h"
#include "tests/support/temp_root.h"

namespace {

using orva_test::parseJson;

class SearchMatch : public ::testing::Test {
 protected:
  bool matches(const Json::Value& record, const std::string& key) {
    return handler_.isMatch(record, key);
  }

  ORVA::APIRequest request_;
  ORVA::APIResponse response_;
  ContactAndCalendarHandler handler_{&request_, &response_, "test"};
};

struct Case {
  const char* record;
  const char* key;
  bool found;
};

// Records as the reader gives them; keys as people type them.
const Case kCases[] = {
    // Case folding for all of Unicode, accents ignored.
    {R"({"company":{"org":"Ørsted Consult"}})", "ørsted", true},
    {R"({"company":{"org":"Ørsted Consult"}})", "orsted", true},
    {R"({"name":{"given_name":"Zoë"}})", "ZOË", true},
    {R"({"name":{"given_name":"Zoë"}})", "zoe", true},
    {R"({"name":{"family_name":"Müller"}})", "muller", true},
    {R"({"name":{"family_name":"Mu\u0308ller"}})", "MÜLLER", true},  // decomposed on the card
    {R"({"name":{"family_name":"STRASSE"}})", "straße", true},
    {R"({"name":{"family_name":"Σοφία"}})", "ΣΟΦΙΑ", true},
    {R"({"name":{"family_name":"Ёлкин"}})", "елкин", true},
    {R"({"company":{"title":"Chef de Cuisine"}})", "CHÉF", true},
    {R"({"name":{"family_name":"Łukasiewicz"}})", "lukas", true},
    {R"({"name":{"family_name":"Müller"}})", "mueller", false},
    // The full name in either order, and the card's display name.
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "Ada Sato", true},
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "sato ada", true},
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "a sa", true},
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "ada  sato", true},
    {R"({"name":{"given_name":"Ada","additional_name":"Marie","family_name":"Satō"}})",
     "ada marie sato", true},
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "ada sato x", false},
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", " sato", false},  // not trimmed
    {R"({"name":{"given_name":"Ada","family_name":"Sato"}})", "sato ", false},
    {R"({"name":{"formatted_name":"Prof. Åsa Øster"}})", "asa oster", true},
    {R"({"name":{"given_name":"John","family_name":"Smith"},"company":{"org":"Acme"}})",
     "smith acme", false},
    // Phone digits with or without blanks, dashes, brackets or a leading '+'.
    {R"({"tel":[{"data":"+1 555 0112"}]})", "5550112", true},
    {R"({"tel":[{"data":"+1 555 0112"}]})", "555-0112", true},
    {R"({"tel":[{"data":"+1 555 0112"}]})", "+15550112", true},
    {R"({"tel":[{"data":"(555) 011-2"}]})", "555 0112", true},
    {R"({"tel":[{"data":"tel:+1-555-0112"}]})", "1 555 0112", true},
    {R"({"tel":[{"data":"+1 555 0112"}]})", "5550113", false},
    {R"({"mail":[{"data":"ada5550112@example.org"}]})", "555 0112",
     false},  // digits of phones only
    // Letters and digits together are text, never phone digits.
    {R"({"name":{"given_name":"Ada"},"tel":[{"data":"+1 555 0112"}]})", "Flat 2", false},
    {R"({"name":{"given_name":"Ada"},"tel":[{"data":"+1 555 0112"}]})", "ada 2", false},
    {R"({"company":{"org":"Flat 2, Elm House"}})", "flat 2", true},
    // Fields that the search never reads.
    {R"({"adr":[{"data":";;Elm St;;;;"}],"note":"tea","url":[{"data":"zebra"}]})", "elm", false},
    {R"({"adr":[{"data":";;Elm St;;;;"}],"note":"tea","url":[{"data":"zebra"}]})", "tea", false},
    {R"({"name":{"additional_name":"Marie"}})", "marie", false},
};

TEST_F(SearchMatch, FindsWhatPeopleType) {
  for (const Case& c : kCases) {
    EXPECT_EQ(matches(parseJson(c.record), c.key), c.found) << c.key << " in " << c.record;
  }
}

TEST(SearchText, FoldsCaseAccentsAndBlanksAndKeepsBytesThatAreNoUtf8) {
  EXPECT_EQ(orva_search::folded("ÀÉÎÕÜ Ç ß ǅ ﬁ"), "aeiou c ss ǆ fi");
  EXPECT_EQ(orva_search::folded("a \t\r\n\u00a0b"), "a b");
  EXPECT_EQ(orva_search::folded("\xc3(\xff\xe2\x82"), "\xc3(\xff\xe2\x82");
  EXPECT_EQ(orva_search::folded("\xed\xa0\x80"), "\xed\xa0\x80");  // a surrogate: no UTF-8
  EXPECT_EQ(orva_search::folded("한국 😀"), "한국 😀");
  EXPECT_TRUE(orva_search::isUtf8("Zoë 😀"));
  EXPECT_FALSE(orva_search::isUtf8("Zo\xeb"));
  EXPECT_TRUE(orva_search::isPhoneKey("+1 (555) 010-0"));
  EXPECT_FALSE(orva_search::isPhoneKey("+ -"));
  EXPECT_FALSE(orva_search::isPhoneKey("555a"));
}

// The plain search, as it was: ASCII letters lowered, a byte substring of
// one of six fields.
bool plainMatch(const Json::Value& record, const std::string& key) {
  const auto lower = [](std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
  };
  const std::string k = lower(key);
  std::vector<std::string> fields = {
      record["name"]["family_name"].asString(), record["name"]["given_name"].asString(),
      record["company"]["org"].asString(), record["company"]["title"].asString()};
  for (const char* list : {"mail", "tel"}) {
    for (const Json::Value& entry : record[list]) fields.push_back(entry["data"].asString());
  }
  return std::any_of(fields.begin(), fields.end(),
                     [&](const std::string& f) { return lower(f).find(k) != std::string::npos; });
}

TEST_F(SearchMatch, EveryPlainMatchIsStillFound) {
  const std::vector<std::string> pieces = {"a",    "B",    "é", "É", "ø", "\xcc\x88", " ",
                                           "  ",   "-",    "+", "1", "5", "ß",        "SS",
                                           "\xff", "\xc3", "😀", "Σ", ",", "\t"};
  std::mt19937 random(20240611);
  const auto text = [&](std::size_t most) {
    std::string out;
    const std::size_t length = random() % (most + 1);
    for (std::size_t i = 0; i < length; ++i) out += pieces[random() % pieces.size()];
    return out;
  };
  int plainMatches = 0;
  for (int round = 0; round < 20000; ++round) {
    Json::Value record;
    record["name"]["family_name"] = text(6);
    record["name"]["given_name"] = text(4);
    record["company"]["org"] = text(6);
    record["tel"][0]["data"] = text(5);
    record["mail"][0]["data"] = text(5);
    // A key cut from a field, or made up.
    std::string key = text(3);
    const std::string from = record["name"]["family_name"].asString();
    if (round % 2 == 0 && !from.empty()) {
      const std::size_t at = random() % from.size();
      key = from.substr(at, 1 + random() % (from.size() - at));
    }
    if (key.empty()) continue;
    if (!plainMatch(record, key)) continue;
    ++plainMatches;
    EXPECT_TRUE(matches(record, key)) << "key '" << key << "' in " << record.toStyledString();
  }
  EXPECT_GT(plainMatches, 5000);
}

}  // namespace
