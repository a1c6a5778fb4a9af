// The lines an import left out of its cards, for the answer: how many, and
// the first few with their card's number in the file and why, so that the
// page can say what was lost. Never a value: only property names.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orva_contacts {

class DroppedLines {
 public:
  // The answer's members: the count's and the list's ("repaired_lines" and
  // "repaired" for the lines an import mended).
  explicit DroppedLines(const char* countKey = "dropped_lines", const char* listKey = "dropped")
      : countKey_(countKey), listKey_(listKey) {}

  // Lines named in the answer; the count covers them all.
  static constexpr std::size_t kNamed = 100;

  void add(std::uint64_t card, std::string_view name, std::string_view reason);
  // "dropped_lines" (the count) and "dropped" ([{card, line, why}]) when
  // any line was dropped; nothing otherwise. The card is its number in the
  // file, its FN as "name" when it has one.
  void add(std::uint64_t card, const std::string& cardName, std::string_view name,
           std::string_view reason);
  void addTo(Json::Value& answer) const;

 private:
  const char* countKey_;
  const char* listKey_;
  std::uint64_t count_ = 0;
  Json::Value named_{Json::arrayValue};
};

}  // namespace orva_contacts
