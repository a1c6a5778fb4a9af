// Which cards an import takes for the same card.
#include "vcard/card_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string card(const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:u1\r\n" + lines + "END:VCARD\r\n";
}

TEST(CardIdentity, PairsThatAreAndAreNotTheSameCard) {
  const std::string base =
      card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=CELL,VOICE:+1 555\r\nNOTE:a\\, b\r\n");
  struct Pair {
    std::string other;
    bool same;
  } pairs[] = {
      {base, true},
      // What an import or a client may change without changing the card.
      {"BEGIN:VCARD\r\nUID:u2\r\nREV:2024\r\nPRODID:-//x//EN\r\nNOTE:a, b\r\n"
       "ITEM1.tel;type=voice;type=cell:+1 555\r\nn:Lee;Ann\r\nFN:Ann \r\n Lee\r\nEND:VCARD\r\n",
       true},
      {card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=\"CELL,VOICE\":+1 555\r\nNOTE:a\\, "
            "b\r\nNOTE:\r\n"),
       true},
      // What makes another card.
      {card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL,VOICE:+1 555\r\nNOTE:a\\, b\r\n"), false},
      {card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=CELL:+1 555\r\nNOTE:a\\, b\r\n"), false},
      {card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=CELL,VOICE:+1 556\r\nNOTE:a\\, b\r\n"),
       false},
      {card("FN:ann lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=CELL,VOICE:+1 555\r\nNOTE:a\\, b\r\n"),
       false},
      {card("FN:Ann Lee\r\nN:Lee;Ann;;;\r\nitem1.TEL;TYPE=CELL,VOICE:+1 555\r\nNOTE:a\\; b\r\n"),
       false},
      {base.substr(0, base.size() - 11) + "NICKNAME:A\r\nEND:VCARD\r\n", false},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.other);
    EXPECT_EQ(orva_vcard::cardIdentity(pair.other) == orva_vcard::cardIdentity(base), pair.same);
  }
}

}  // namespace
