#include "vcard/common_texts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vcard/json_text.h"

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

constexpr std::size_t kLongest = 11;
constexpr bool kLowByteFirst = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
constexpr std::size_t kSlots = 256;  // room for twice the texts

// The first eight bytes of a text in one word, compared at once (bytes in
// the order of the text, the first lowest).
constexpr std::uint64_t headOf(std::string_view text) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  }
  return word;
}

// The same at run time, a load of each size at once where the machine keeps
// the lowest byte first.
template <std::size_t N>
std::uint64_t loadHead(const char* bytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, N);
  return word;
}

std::uint64_t runHeadOf(std::string_view text) {
  if (!kLowByteFirst) return headOf(text);
  switch (text.size()) {
    case 1:
      return loadHead<1>(text.data());
    case 2:
      return loadHead<2>(text.data());
    case 3:
      return loadHead<3>(text.data());
    case 4:
      return loadHead<4>(text.data());
    case 5:
      return loadHead<5>(text.data());
    case 6:
      return loadHead<6>(text.data());
    case 7:
      return loadHead<7>(text.data());
    default:
      return loadHead<8>(text.data());
  }
}

constexpr std::size_t slotOf(std::uint64_t head, std::size_t size) {
  return static_cast<std::size_t>(((head ^ size) * 0x9E3779B97F4A7C15ULL) >> 56) % kSlots;
}

// Open addressing with linear probing; index is one more than the text's
// place in kCommon, 0 for a free slot. A repeated text keeps its first slot.
struct Slot {
  std::uint64_t head;
  std::uint8_t size;
  std::uint8_t index;
};

constexpr auto kTable = [] {
  std::array<Slot, kSlots> table{};
  for (std::size_t i = 0; i < kCommonCount; ++i) {
    const std::uint64_t head = headOf(kCommon[i]);
    std::size_t slot = slotOf(head, kCommon[i].size());
    bool known = false;
    while (table[slot].index != 0) {
      known = known || kCommon[table[slot].index - 1] == kCommon[i];
      slot = (slot + 1) % kSlots;
    }
    if (!known) {
      table[slot] = Slot{head, static_cast<std::uint8_t>(kCommon[i].size()),
                         static_cast<std::uint8_t>(i + 1)};
    }
  }
  return table;
}();

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
  const std::uint64_t head = runHeadOf(text);
  for (std::size_t slot = slotOf(head, text.size()); kTable[slot].index != 0;
       slot = (slot + 1) % kSlots) {
    const Slot& held = kTable[slot];
    if (held.head != head || held.size != text.size()) continue;
    const std::string_view common = kCommon[held.index - 1U];
    // Beyond eight bytes (a few long texts), the rest byte by byte.
    std::size_t i = 8;
    while (i < text.size() && common[i] == text[i]) ++i;
    if (i >= text.size()) return &kValues[held.index - 1U];
  }
  return nullptr;
}

void setCommonOrText(Json::Value& member, std::string_view text) {
  if (const Json::Value* common = commonText(text)) {
    member.copyPayload(*common);
  } else {
    setJsonText(member, text);
  }
}

}  // namespace orva_vcard
