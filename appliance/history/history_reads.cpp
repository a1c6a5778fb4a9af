#include "appliance/history/folder_changes.h"
#include "appliance/history/history_access.h"
#include "appliance/history/history_views.h"
#include "appliance/store/store_layout.h"

namespace orva_history {

Result trashOf(const std::string& user, const std::string& collection) {
  return withHistory(user, collection,
                     [&](const History& history) -> Result { return done(trashJson(history)); });
}

Result versionsOf(const std::string& user, const std::string& collection, const std::string& name) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    Json::Value versions = versionsJson(history, name);
    if (versions.empty()) return failed(Outcome::kMissing, name + " is not in the history");
    Json::Value data(Json::objectValue);
    data["name"] = name;
    data["current"] = versionOnDisk(collectionDir(user, collection) + "/" + name);
    data["versions"] = versions;
    return done(data);
  });
}

Result undoPreview(const std::string& user, const std::string& collection, std::int64_t timeMs) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    UndoPlan plan;
    if (!undoPlan(history, timeMs, plan)) {
      return failed(Outcome::kMissing,
                    "that time is not kept (kept since " + std::to_string(history.startMs) + ")");
    }
    Json::Value data(Json::objectValue);
    data["add"] = plan.add;
    data["change"] = plan.change;
    data["remove"] = plan.remove;
    data["token"] = stateToken(history);
    return done(data);
  });
}

Result changesOf(const std::string& user, const std::string& collection) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    Json::Value changes(Json::arrayValue);
    for (std::size_t i = history.records.size(); i-- > history.baseCount;) {
      const Record& record = history.records[i];
      const Json::ArrayIndex last = changes.size();
      if (last > 0 && changes[last - 1]["change"].asString() == record.change) {
        changes[last - 1]["count"] = changes[last - 1]["count"].asInt() + 1;
        continue;
      }
      Json::Value item(Json::objectValue);
      item["change"] = std::string(record.change);
      item["time"] = static_cast<Json::Int64>(record.timeMs);
      item["by"] = std::string(record.maker);
      item["count"] = 1;
      changes.append(item);
    }
    Json::Value data(Json::objectValue);
    data["since"] = static_cast<Json::Int64>(history.startMs);
    data["trimmed"] = history.trimmed;
    data["changes"] = changes;
    return done(data);
  });
}

Result collectionsOf(const std::string& user) {
  orva_store::StoreLock lock(orva_store::StoreLock::kExclusive);
  if (!lock.held() || !orva_store::isSafeUserName(user)) return done(Json::Value(Json::arrayValue));
  // Collections no change has reached yet get their histories here.
  if (!keepFolderChanges(user, user)) {
    return failed(Outcome::kNotWritten, "the histories of " + user + " cannot be written");
  }
  Json::Value list(Json::arrayValue);
  for (const std::string& name : folderEntries(historyRoot() + "/" + user, Kind::kFolders)) {
    History history;
    if (!readHistory(user, name, history) || !history.exists) continue;
    const auto latest = latestRecords(history);
    const auto props = latest.find(orva_store::kPropsFileName);
    Json::Value item(Json::objectValue);
    item["name"] = name;
    item["deleted"] = props == latest.end() || props->second->kind == 'D';
    item["display_name"] = props == latest.end() ? std::string() : summaryOf(props->second->body);
    list.append(item);
  }
  return done(list);
}

}  // namespace orva_history
