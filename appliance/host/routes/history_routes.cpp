#include "appliance/host/routes/history_routes.h"

#include <string>
#include <vector>

#include "appliance/history/history_prune.h"
#include "appliance/history/history_restore.h"
#include "appliance/history/history_settings.h"
#include "appliance/store/store_layout.h"

namespace orva_host {

namespace {

using orva_history::Outcome;
using orva_history::Result;

constexpr const char* kPageMaker = "administration page";
constexpr Json::ArrayIndex kMaxNames = 100000;

// "user" and "collection" (the address book when absent).
bool readWhere(const Json::Value& request, std::string& user, std::string& collection,
               HttpAnswer& refusal) {
  if (!textMember(request, "user", true, user, refusal) ||
      !textMember(request, "collection", false, collection, refusal)) {
    return false;
  }
  if (collection.empty()) collection = orva_store::kBookName;
  if (!orva_store::isSafeUserName(user) || !orva_store::isSafeName(collection)) {
    refusal = refusalAnswer(400, kBadUserName, "user " + user + ", collection " + collection);
    return false;
  }
  return true;
}

bool readTime(const Json::Value& request, std::int64_t& timeMs, HttpAnswer& refusal) {
  const Json::Value& time = request["time"];
  if (!time.isInt64() || time.asInt64() < 0) {
    refusal = refusalAnswer(400, kBadRequest, "\"time\" must be milliseconds since 1970");
    return false;
  }
  timeMs = time.asInt64();
  return true;
}

HttpAnswer answer(const Result& result) {
  switch (result.outcome) {
    case Outcome::kDone:
      return dataAnswer(result.data);
    case Outcome::kMissing:
      return refusalAnswer(404, kNotKept, result.detail);
    case Outcome::kChanged:
      return refusalAnswer(409, kChangedSince, result.detail);
    case Outcome::kRefused:
      return refusalAnswer(422, kStoreRefused, result.detail);
    case Outcome::kNotWritten:
      break;
  }
  return refusalAnswer(500, kHistoryFailed, result.detail);
}

}  // namespace

HttpAnswer trashRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection;
  if (!onlyKeys(request, {"user", "collection"}, refusal) ||
      !readWhere(request, user, collection, refusal)) {
    return refusal;
  }
  Result result = orva_history::trashOf(user, collection);
  if (result.outcome == Outcome::kDone) {
    result.data["keep_days"] = orva_history::readSettings().keepDays;
  }
  return answer(result);
}

HttpAnswer restoreFromTrashRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection;
  if (!onlyKeys(request, {"user", "collection", "names"}, refusal) ||
      !readWhere(request, user, collection, refusal)) {
    return refusal;
  }
  const Json::Value& names = request["names"];
  if (!names.isArray() || names.empty() || names.size() > kMaxNames) {
    return refusalAnswer(400, kBadRequest, "\"names\" must be a list of names");
  }
  std::vector<std::string> list;
  for (const Json::Value& name : names) {
    if (!name.isString()) return refusalAnswer(400, kBadRequest, "a name must be a string");
    list.push_back(name.asString());
  }
  return answer(orva_history::restoreFromTrash(user, collection, list, kPageMaker));
}

HttpAnswer versionsRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection, name;
  if (!onlyKeys(request, {"user", "collection", "name"}, refusal) ||
      !readWhere(request, user, collection, refusal) ||
      !textMember(request, "name", true, name, refusal)) {
    return refusal;
  }
  return answer(orva_history::versionsOf(user, collection, name));
}

HttpAnswer restoreVersionRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection, name, current;
  if (!onlyKeys(request, {"user", "collection", "name", "index", "current"}, refusal) ||
      !readWhere(request, user, collection, refusal) ||
      !textMember(request, "name", true, name, refusal) ||
      !textMember(request, "current", true, current, refusal)) {
    return refusal;
  }
  const Json::Value& index = request["index"];
  if (!index.isInt() || index.asInt() < 0) {
    return refusalAnswer(400, kBadRequest, "\"index\" must be a version's place in the list");
  }
  return answer(
      orva_history::restoreVersion(user, collection, name, index.asInt(), current, kPageMaker));
}

HttpAnswer changesRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection;
  if (!onlyKeys(request, {"user", "collection"}, refusal) ||
      !readWhere(request, user, collection, refusal)) {
    return refusal;
  }
  return answer(orva_history::changesOf(user, collection));
}

HttpAnswer historyCollectionsRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection;
  if (!onlyKeys(request, {"user"}, refusal) || !readWhere(request, user, collection, refusal)) {
    return refusal;
  }
  return answer(orva_history::collectionsOf(user));
}

HttpAnswer undoPreviewRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection;
  std::int64_t time = 0;
  if (!onlyKeys(request, {"user", "collection", "time"}, refusal) ||
      !readWhere(request, user, collection, refusal) || !readTime(request, time, refusal)) {
    return refusal;
  }
  return answer(orva_history::undoPreview(user, collection, time));
}

HttpAnswer undoRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, collection, token;
  std::int64_t time = 0;
  if (!onlyKeys(request, {"user", "collection", "time", "token"}, refusal) ||
      !readWhere(request, user, collection, refusal) || !readTime(request, time, refusal) ||
      !textMember(request, "token", true, token, refusal)) {
    return refusal;
  }
  return answer(orva_history::undoTo(user, collection, time, token,
                                     std::string(kPageMaker) + " (undo changes)"));
}

HttpAnswer historySettingsRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  if (!onlyKeys(request, {"keep_days", "size_limit_mb"}, refusal)) return refusal;
  orva_history::Settings settings = orva_history::readSettings();
  const bool change = request.isMember("keep_days") || request.isMember("size_limit_mb");
  if (request.isMember("keep_days")) {
    const Json::Value& days = request["keep_days"];
    if (!days.isInt() || days.asInt() < 1 || days.asInt() > orva_history::kMaxKeepDays) {
      return refusalAnswer(400, kBadRequest, "\"keep_days\" must be 1 to 365");
    }
    settings.keepDays = days.asInt();
  }
  if (request.isMember("size_limit_mb")) {
    const Json::Value& limit = request["size_limit_mb"];
    if (!limit.isInt() || limit.asInt() < 1 || limit.asInt() > orva_history::kMaxSizeLimitMb) {
      return refusalAnswer(400, kBadRequest, "\"size_limit_mb\" must be 1 to 102400");
    }
    settings.sizeLimitMb = limit.asInt();
  }
  // A shorter period or a smaller limit applies at once.
  if (change && (!orva_history::writeSettings(settings) || !orva_history::pruneAll())) {
    return refusalAnswer(500, kHistoryFailed, "the settings cannot be written");
  }
  Json::Value data(Json::objectValue);
  data["keep_days"] = settings.keepDays;
  data["size_limit_mb"] = settings.sizeLimitMb;
  return dataAnswer(data);
}

}  // namespace orva_host
