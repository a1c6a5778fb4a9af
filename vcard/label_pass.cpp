// Label pass: custom labels of item groups (item1.X-ABLabel:Gym) into the
// label table, for the entry readers to name grouped entries.
#include <string>

#include "vcard/byte_search.h"
#include "vcard/card_lines.h"
#include "vcard/card_reader.h"
#include "vcard/common_texts.h"
#include "vcard/content_line.h"
#include "vcard/property_name.h"

namespace orva_vcard {

namespace {

bool isLabelName(std::string_view name) {
  return nameIs(name, "X-ABLABEL") || nameIs(name, "X-ABADR");
}

// Apple writes its own labels as _$!<Mobile>!$_: keep the word inside.
std::string_view labelWord(std::string_view label) {
  const std::size_t close = label.find('>');
  if (close == std::string_view::npos) return label;
  label = label.substr(0, close);
  const std::size_t open = label.find('<');
  return open == std::string_view::npos ? label : label.substr(open + 1);
}

bool isA(char c) { return c == 'a' || c == 'A'; }
bool isB(char c) { return c == 'b' || c == 'B'; }

// The next place at or after from where "-AB" (any case) may stand: every
// label name holds "X-AB". A fold may fall anywhere, so a line break in place
// of the A or the B counts as a maybe. Returns the text's size when none.
std::size_t nextMarker(std::string_view text, std::size_t from) {
  // Inline scans: a library search call per '-' costs more than the scan.
  for (std::size_t at = findAnyOf<'-'>(text, from); at < text.size();
       at = findAnyOf<'-'>(text, at + 1)) {
    const char a = at + 1 < text.size() ? text[at + 1] : '\0';
    if (isLineBreak(a)) return at;
    if (!isA(a)) continue;
    const char b = at + 2 < text.size() ? text[at + 2] : '\0';
    if (isB(b) || isLineBreak(b)) return at;
  }
  return text.size();
}

// The start of the unfolded line that holds position at: back to the line's
// first byte, then back over the lines it continues.
std::size_t logicalLineStart(std::string_view text, std::size_t at) {
  std::size_t start = at;
  while (true) {
    while (start > 0 && !isLineBreak(text[start - 1])) --start;
    const bool continues = start < text.size() && (text[start] == ' ' || text[start] == '\t');
    std::size_t before = start;
    while (before > 0 && isLineBreak(text[before - 1])) --before;
    if (!continues || before == 0) return start;
    start = before;
  }
}

// Apple's group names, "item1" to "item99", as static keys of the module:
// jsoncpp copies any other key twice on insertion and frees it again.
struct ItemGroups {
  char names[100][7];
};

constexpr ItemGroups kItemGroups = [] {
  ItemGroups groups{};
  for (int n = 1; n < 100; ++n) {
    char* name = groups.names[n];
    name[0] = 'i';
    name[1] = 't';
    name[2] = 'e';
    name[3] = 'm';
    if (n < 10) {
      name[4] = static_cast<char>('0' + n);
    } else {
      name[4] = static_cast<char>('0' + n / 10);
      name[5] = static_cast<char>('0' + n % 10);
    }
  }
  return groups;
}();

// The label table's member for a group.
Json::Value& labelOf(Json::Value& labelTable, std::string_view group) {
  const bool item = group.size() >= 5 && group.size() <= 6 && group.compare(0, 4, "item") == 0 &&
                    group[4] >= '1' && group[4] <= '9' &&
                    (group.size() == 5 || (group[5] >= '0' && group[5] <= '9'));
  if (!item) return *labelTable.demand(group.data(), group.data() + group.size());
  const int number = group.size() == 5 ? group[4] - '0' : (group[4] - '0') * 10 + (group[5] - '0');
  return labelTable[Json::StaticString(kItemGroups.names[number])];
}

}  // namespace

void readLabels(std::string_view cardText, Json::Value& labelTable) {
  // Few lines can be label lines: read only those around a marker.
  std::size_t at = nextMarker(cardText, 0);
  while (at < cardText.size()) {
    const std::size_t start = logicalLineStart(cardText, at);
    LineWalker lines(cardText.substr(start));
    std::string_view line;
    if (!lines.next(line)) break;
    const ContentLine content = splitContentLine(line);
    if (!content.group.empty() && content.hasValue && isLabelName(content.name)) {
      const std::string_view group = content.group;
      const std::string_view word = labelWord(content.value);
      setCommonOrText(labelOf(labelTable, group), word);
    }
    at = nextMarker(cardText, cardText.size() - lines.rest().size());
  }
}

}  // namespace orva_vcard
