// What the page shows of a collection's history: its trash, one entry's
// versions, and what putting the collection back to a time would do. Each
// reads a history the caller has settled (see settledHistory).
#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "appliance/history/history_files.h"

namespace orva_history {

// With the exclusive lock held: keeps what clients changed since the last
// kept change (as the hook would), then reads the collection's history.
// False when it cannot; history.exists is false for a collection never kept.
bool settledHistory(const std::string& user, const std::string& collection, History& history);

// A token for the collection's state as kept: it changes with every change.
std::string stateToken(const History& history);

// The trash: each name's last deleted bytes, unless the same bytes are in
// the collection again.
std::map<std::string, const Record*> trashRecords(const History& history);

// {"since", "trimmed", "items": [{"name", "deleted", "by", "summary", "size"}]},
// newest deletion first.
Json::Value trashJson(const History& history);

// [{"time", "by", "deleted", "version", "changed": [property names]}],
// oldest first; empty when the entry was never kept.
Json::Value versionsJson(const History& history, const std::string& name);

// One step of putting entries back: the entry gets text (or is removed),
// only while it still has the version expected ("" for absent).
struct Step {
  std::string name;
  bool remove = false;
  std::string text;
  std::string expected;
};

// What putting the collection back to timeMs changes now: steps, and
// counts of entries added back, changed and removed.
struct UndoPlan {
  std::vector<Step> steps;
  int add = 0, change = 0, remove = 0;
};
// False when timeMs is before what the history keeps (pruned) or the future.
bool undoPlan(const History& history, std::int64_t timeMs, UndoPlan& plan);

// What the page calls an entry: a card's FN, an event's SUMMARY, a
// collection's display name.
std::string summaryOf(std::string_view text);

// The properties (upper-case names, groups left out) whose lines differ
// between two versions of a card or event.
std::vector<std::string> changedProperties(std::string_view before, std::string_view after);

}  // namespace orva_history
