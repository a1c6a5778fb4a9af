#include "appliance/history/history_views.h"

#include <json/json.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "appliance/history/folder_changes.h"

namespace orva_history {

namespace {

// Unfolded content lines of a vCard or iCalendar text.
std::vector<std::string> contentLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
      lines.back().append(line.substr(1));
    } else if (!line.empty()) {
      lines.emplace_back(line);
    }
    pos = end + 1;
  }
  return lines;
}

std::string propertyName(const std::string& line) {
  std::size_t end = line.find_first_of(";:");
  std::string name = line.substr(0, end);
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(0, dot + 1);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name;
}

std::map<std::string, std::multiset<std::string>> byProperty(std::string_view text) {
  std::map<std::string, std::multiset<std::string>> out;
  for (const std::string& line : contentLines(text)) out[propertyName(line)].insert(line);
  return out;
}

}  // namespace

// What the page calls an entry: a card's FN, an event's SUMMARY.
std::string summaryOf(std::string_view text) {
  if (!text.empty() && text.front() == '{') {
    // A collection's properties: its display name.
    Json::Value props;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in{std::string(text)};
    if (!Json::parseFromStream(builder, in, &props, &errors) || !props.isObject()) return "";
    const Json::Value& shown = props["D:displayname"];
    return shown.isString() ? shown.asString().substr(0, 200) : "";
  }
  for (const std::string& line : contentLines(text)) {
    const std::string name = propertyName(line);
    if (name == "FN" || name == "SUMMARY") {
      const std::size_t colon = line.find(':');
      return colon == std::string::npos ? "" : line.substr(colon + 1, 200);
    }
  }
  return "";
}

bool settledHistory(const std::string& user, const std::string& collection, History& history) {
  return keepFolderChanges(user, user) && readHistory(user, collection, history);
}

std::string stateToken(const History& history) {
  std::string token = std::to_string(history.records.size());
  if (!history.records.empty()) token += "-" + std::string(history.records.back().change);
  return token;
}

std::map<std::string, const Record*> trashRecords(const History& history) {
  std::map<std::string, const Record*> deleted;
  for (const Record& record : history.records) {
    if (record.kind == 'D' && !record.body.empty()) deleted[std::string(record.name)] = &record;
  }
  // Bytes that are in the book again (restored, under whatever name) are
  // out of the trash.
  std::set<std::string_view> present;
  for (const auto& entry : latestRecords(history)) {
    if (entry.second->kind == 'P') present.insert(entry.second->version);
  }
  for (auto it = deleted.begin(); it != deleted.end();) {
    it = present.count(it->second->version) > 0 ? deleted.erase(it) : std::next(it);
  }
  return deleted;
}

Json::Value trashJson(const History& history) {
  Json::Value out(Json::objectValue);
  out["since"] = static_cast<Json::Int64>(history.startMs);
  out["trimmed"] = history.trimmed;
  Json::Value items(Json::arrayValue);
  std::vector<const Record*> deleted;
  for (const auto& entry : trashRecords(history)) deleted.push_back(entry.second);
  std::sort(deleted.begin(), deleted.end(),
            [](const Record* a, const Record* b) { return a->timeMs > b->timeMs; });
  for (const Record* record : deleted) {
    Json::Value item(Json::objectValue);
    item["name"] = std::string(record->name);
    item["deleted"] = static_cast<Json::Int64>(record->timeMs);
    item["by"] = std::string(record->maker);
    item["summary"] = summaryOf(record->body);
    item["size"] = static_cast<Json::UInt64>(record->body.size());
    items.append(item);
  }
  out["items"] = items;
  return out;
}

std::vector<std::string> changedProperties(std::string_view before, std::string_view after) {
  const auto a = byProperty(before);
  const auto b = byProperty(after);
  std::set<std::string> names;
  for (const auto& [name, lines] : a) {
    const auto other = b.find(name);
    if (other == b.end() || other->second != lines) names.insert(name);
  }
  for (const auto& [name, lines] : b) {
    if (a.count(name) == 0) names.insert(name);
  }
  names.erase("BEGIN");
  names.erase("END");
  return {names.begin(), names.end()};
}

Json::Value versionsJson(const History& history, const std::string& name) {
  Json::Value out(Json::arrayValue);
  std::string_view previous;
  for (const Record& record : history.records) {
    if (record.name != name) continue;
    Json::Value item(Json::objectValue);
    item["time"] = static_cast<Json::Int64>(record.timeMs);
    item["by"] = std::string(record.maker);
    item["deleted"] = record.kind == 'D';
    item["version"] = record.kind == 'D' ? std::string() : std::string(record.version);
    item["summary"] = summaryOf(record.body);
    Json::Value changed(Json::arrayValue);
    if (record.kind == 'P') {
      for (const std::string& p : changedProperties(previous, record.body)) changed.append(p);
      previous = record.body;
    } else {
      previous = std::string_view();
    }
    item["changed"] = changed;
    out.append(item);
  }
  return out;
}

bool undoPlan(const History& history, std::int64_t timeMs, UndoPlan& plan) {
  plan = UndoPlan();
  if (!history.exists || timeMs < history.startMs || timeMs > nowMs()) return false;
  const auto then = latestRecords(history, timeMs);
  const auto now = latestRecords(history);
  std::set<std::string> names;
  for (const auto& entry : then) names.insert(entry.first);
  for (const auto& entry : now) names.insert(entry.first);
  for (const std::string& name : names) {
    const auto a = then.find(name);
    const auto b = now.find(name);
    const Record* was = a != then.end() && a->second->kind == 'P' ? a->second : nullptr;
    const Record* is = b != now.end() && b->second->kind == 'P' ? b->second : nullptr;
    if (was == nullptr && is == nullptr) continue;
    if (was != nullptr && is != nullptr && was->version == is->version) continue;
    Step step;
    step.name = name;
    step.expected = is == nullptr ? "" : std::string(is->version);
    if (was == nullptr) {
      step.remove = true;
      ++plan.remove;
    } else {
      step.text = std::string(was->body);
      ++(is == nullptr ? plan.add : plan.change);
    }
    plan.steps.push_back(std::move(step));
  }
  return true;
}

}  // namespace orva_history
