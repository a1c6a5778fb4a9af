// The lines an import mended or left out, for the answer and the log:
// counted, and the first ones named with their card, so that a hostile file
// cannot make the answer large. Never a value: only property names.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orva_contacts {

class LineNotes {
 public:
  // Lines named in the answer; the count covers them all.
  static constexpr Json::ArrayIndex kShown = 100;

  // `what` is the verb of the log line: "repaired" or "dropped".
  explicit LineNotes(const char* what) : what_(what) {}

  void add(const std::string& card, std::string_view property, std::string_view reason);
  std::uint64_t count() const { return count_; }
  // {"count", "lines": [{"card", "property", "reason"}]}.
  Json::Value answer() const;

 private:
  const char* what_;
  std::uint64_t count_ = 0;
  Json::Value lines_{Json::arrayValue};
};

}  // namespace orva_contacts
