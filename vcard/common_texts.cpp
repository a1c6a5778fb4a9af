#include "vcard/common_texts.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orva_vcard {

namespace {

constexpr std::string_view kCommon[] = {
    // TYPE values, in the spellings exporters use.
    "CELL", "HOME", "WORK", "VOICE", "INTERNET", "pref", "PREF", "FAX", "OTHER", "MAIN", "cell",
    "home", "work", "voice", "internet", "fax", "other", "main", "PAGER", "IPHONE", "Cell", "Home",
    "Work", "Voice", "Internet", "Pref", "Fax", "Other", "Main", "X400", "TEXT", "VIDEO", "text",
    "video", "x-mobile", "BBS", "MODEM", "CAR", "ISDN", "PCS", "MSG", "msg", "PARCEL", "POSTAL",
    "DOM", "INTL", "parcel", "postal", "dom", "intl", "textphone", "TEXTPHONE", "x-home", "x-work",
    "x-other",
    // The words of Apple's own group labels (_$!<Mobile>!$_ gives Mobile).
    "Mobile", "HomePage", "HomeFAX", "WorkFAX", "OtherFAX", "Pager", "Spouse", "Child", "Mother",
    "Father", "Parent", "Brother", "Sister", "Friend", "Partner", "Assistant", "Manager",
    "Anniversary", "School", "Related", "Main"};
constexpr std::size_t kCommonCount = sizeof(kCommon) / sizeof(kCommon[0]);

// A cheap hash of a short text; the table has room for twice the texts.
constexpr std::size_t kSlots = 256;
constexpr std::size_t hashOf(std::string_view text) {
  std::uint32_t h = static_cast<std::uint32_t>(text.size()) * 0x9E3779B1U;
  if (!text.empty()) {
    h ^= static_cast<unsigned char>(text.front()) * 0x85EBCA77U;
    h ^= static_cast<unsigned char>(text.back()) * 0xC2B2AE3DU;
    h ^= static_cast<unsigned char>(text[text.size() / 2]) * 0x27D4EB2FU;
  }
  return (h ^ (h >> 15)) % kSlots;
}

// Open addressing with linear probing: slot i holds an index into kCommon
// plus one, 0 when free. A repeated text keeps its first slot.
constexpr auto kTable = [] {
  std::array<std::uint8_t, kSlots> table{};
  for (std::size_t i = 0; i < kCommonCount; ++i) {
    std::size_t slot = hashOf(kCommon[i]);
    bool known = false;
    while (table[slot] != 0) {
      known = known || kCommon[table[slot] - 1] == kCommon[i];
      slot = (slot + 1) % kSlots;
    }
    if (!known) table[slot] = static_cast<std::uint8_t>(i + 1);
  }
  return table;
}();

constexpr std::size_t kLongest = 11;

// A plain loop: these texts are shorter than a library compare call costs.
bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}
static_assert([] {
  for (const std::string_view text : kCommon) {
    if (text.empty() || text.size() > kLongest) return false;
  }
  return kCommonCount < 255 && 2 * kCommonCount <= kSlots;
}());

}  // namespace

const Json::Value* commonText(std::string_view text) {
  if (text.empty() || text.size() > kLongest) return nullptr;
  static const auto kValues = [] {
    std::array<Json::Value, kCommonCount> values;
    for (std::size_t i = 0; i < kCommonCount; ++i) {
      // Each literal ends in a NUL, as a static string needs.
      values[i] = Json::Value(Json::StaticString(kCommon[i].data()));
    }
    return values;
  }();
  for (std::size_t slot = hashOf(text); kTable[slot] != 0; slot = (slot + 1) % kSlots) {
    const std::size_t index = kTable[slot] - 1U;
    if (sameBytes(kCommon[index], text)) return &kValues[index];
  }
  return nullptr;
}

}  // namespace orva_vcard
