#include "appliance/history/history_restore.h"

#include <map>

#include "appliance/history/history_access.h"
#include "appliance/history/history_views.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/card_check.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_uuid.h"

namespace orva_history {

namespace {

// With the lock held: checks every step, keeps them as one change, then
// makes them. Nothing is changed unless every step may be made.
Result applySteps(const std::string& user, const std::string& collection,
                  const std::vector<Step>& steps, const std::string& maker) {
  const std::string folder = collectionDir(user, collection);
  for (const Step& step : steps) {
    if (versionOnDisk(folder + "/" + step.name) != step.expected) {
      return failed(Outcome::kChanged, step.name + " changed since it was shown");
    }
    if (!step.remove && isAddressBook(collection) && step.name != orva_store::kPropsFileName) {
      const std::string refusal = orva_store::cardTextRefusal(step.text);
      if (!refusal.empty()) return failed(Outcome::kRefused, step.name + ": " + refusal);
    }
  }
  orva_file::FolderSync sync;
  if (!orva_store::ensureDirs(folder, sync)) {
    return failed(Outcome::kNotWritten, "cannot make " + collection);
  }
  KeptWrite kept(user, collection, orva_store::randomUuid(), maker);
  for (const Step& step : steps) {
    if (step.remove) {
      std::string text;
      orva_store::readWholeFile(folder + "/" + step.name, text);
      kept.remove(step.name, text);
    } else {
      kept.put(step.name, step.text);
    }
  }
  if (steps.empty()) return done(Json::Value(Json::nullValue));
  if (!kept.keep(sync)) return failed(Outcome::kNotWritten, "the history cannot be written");
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    const bool ok = step.remove ? orva_store::removeFile(folder + "/" + step.name, sync)
                                : orva_store::writeFileAtomic(folder, step.name, step.text, sync);
    if (!ok) {
      kept.sealFirst(i);
      return failed(Outcome::kNotWritten, "cannot write " + step.name);
    }
  }
  kept.seal();
  if (!sync.flush()) return failed(Outcome::kNotWritten, "cannot sync " + collection);
  return done(Json::Value(Json::nullValue));
}

// A free name for an entry put back whose own name is taken again.
std::string freshName(const std::string& collection, const std::string& folder) {
  for (;;) {
    std::string name = orva_store::randomUuid();
    if (!isAddressBook(collection)) name += ".ics";
    if (!orva_store::entryExists(folder + "/" + name)) return name;
  }
}

}  // namespace

Result restoreFromTrash(const std::string& user, const std::string& collection,
                        const std::vector<std::string>& names, const std::string& maker) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    const auto latest = latestRecords(history);
    const std::string folder = collectionDir(user, collection);
    std::vector<Step> steps;
    Json::Value restored(Json::arrayValue);
    std::map<std::string, bool> taken;
    // A collection deleted whole gets its properties back with its entries.
    const auto props = latest.find(orva_store::kPropsFileName);
    if (!orva_store::entryExists(folder + "/" + orva_store::kPropsFileName) &&
        props != latest.end() && props->second->kind == 'D' && !props->second->body.empty()) {
      steps.push_back({orva_store::kPropsFileName, false, std::string(props->second->body), ""});
      taken[orva_store::kPropsFileName] = true;
    }
    const auto trash = trashRecords(history);
    for (const std::string& name : names) {
      const auto last = trash.find(name);
      if (last == trash.end()) return failed(Outcome::kMissing, name + " is not in the trash");
      if (taken[name]) continue;
      taken[name] = true;
      std::string as = name;
      if (orva_store::entryExists(folder + "/" + name)) {
        do as = freshName(collection, folder);
        while (taken[as]);
        taken[as] = true;
      }
      steps.push_back({as, false, std::string(last->second->body), ""});
      Json::Value item(Json::objectValue);
      item["name"] = name;
      item["restored_as"] = as;
      restored.append(item);
    }
    Result result = applySteps(user, collection, steps, maker);
    if (result.outcome == Outcome::kDone) result.data = restored;
    return result;
  });
}

Result restoreVersion(const std::string& user, const std::string& collection,
                      const std::string& name, int index, const std::string& currentVersion,
                      const std::string& maker) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    int seen = 0;
    const Record* chosen = nullptr;
    for (const Record& record : history.records) {
      if (record.name != name) continue;
      if (seen++ == index) chosen = &record;
    }
    if (chosen == nullptr || chosen->kind != 'P') {
      return failed(Outcome::kMissing,
                    "version " + std::to_string(index) + " of " + name + " is not in the history");
    }
    Result result = applySteps(user, collection,
                               {{name, false, std::string(chosen->body), currentVersion}}, maker);
    if (result.outcome == Outcome::kDone) {
      Json::Value data(Json::objectValue);
      data["name"] = name;
      data["version"] = std::string(chosen->version);
      result.data = data;
    }
    return result;
  });
}

Result undoTo(const std::string& user, const std::string& collection, std::int64_t timeMs,
              const std::string& token, const std::string& maker) {
  return withHistory(user, collection, [&](const History& history) -> Result {
    if (stateToken(history) != token) {
      return failed(Outcome::kChanged, "the book changed since the preview");
    }
    UndoPlan plan;
    if (!undoPlan(history, timeMs, plan)) return failed(Outcome::kMissing, "that time is not kept");
    Result result = applySteps(user, collection, plan.steps, maker);
    if (result.outcome == Outcome::kDone) {
      Json::Value data(Json::objectValue);
      data["add"] = plan.add;
      data["change"] = plan.change;
      data["remove"] = plan.remove;
      result.data = data;
    }
    return result;
  });
}

}  // namespace orva_history
