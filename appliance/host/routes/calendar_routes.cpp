#include "appliance/host/routes/calendar_routes.h"

#include "appliance/host/accounts/password_file.h"
#include "appliance/host/accounts/user_collections.h"
#include "appliance/host/routes/user_routes.h"
#include "appliance/store/text_rules.h"

namespace orva_host {

namespace {

// Clients read the calendar's properties as UTF-8 JSON: one broken byte
// and the user's whole discovery fails.
bool isShownName(const std::string& text) {
  if (text.size() > 200 || !orva_store::isValidUtf8(text)) return false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool readNames(const Json::Value& request, std::string& user, std::string& name,
               HttpAnswer& refusal) {
  if (!textMember(request, "user", true, user, refusal) ||
      !textMember(request, "name", true, name, refusal)) {
    return false;
  }
  if (!isPlainUserName(user)) {
    refusal = refusalAnswer(400, kBadUserName, "user " + user);
    return false;
  }
  if (!isPlainCollectionName(name)) {
    refusal = refusalAnswer(400, kBadUserName,
                            "calendar " + name +
                                ": a calendar's name has no '/', '\\', ':' or '..', no control "
                                "character, no blank at either end, no '.' first or '~' last");
    return false;
  }
  return true;
}

HttpAnswer answerChange(CollectionChange change, const std::string& user, const std::string& name) {
  const std::string what = "calendar " + name + " of " + user;
  switch (change) {
    case CollectionChange::kDone: {
      Json::Value data(Json::objectValue);
      data["user"] = user;
      data["collections"] = collectionsJson(user);
      return dataAnswer(data);
    }
    case CollectionChange::kExists:
      return refusalAnswer(409, kUserExists, what);
    case CollectionChange::kMissing:
      return refusalAnswer(404, kNoSuchUser, what);
    case CollectionChange::kNotCalendar:
      return refusalAnswer(400, kNotCalendar, name + " of " + user + " is an address book");
    case CollectionChange::kBadName:
      return refusalAnswer(400, kBadUserName, what);
    case CollectionChange::kFailed:
      break;
  }
  return refusalAnswer(500, kApplianceFailed, what);
}

}  // namespace

HttpAnswer createCalendarRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, name, shown;
  if (!onlyKeys(request, {"user", "name", "display_name"}, refusal) ||
      !readNames(request, user, name, refusal) ||
      !textMember(request, "display_name", false, shown, refusal)) {
    return refusal;
  }
  if (!isShownName(shown)) {
    return refusalAnswer(400, kBadUserName,
                         "a display name is UTF-8 text (no lone surrogate) of at most 200 "
                         "bytes, with no control character");
  }
  return answerChange(createCalendar(user, name, shown.empty() ? name : shown), user, name);
}

HttpAnswer deleteCalendarRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, name;
  if (!onlyKeys(request, {"user", "name"}, refusal) || !readNames(request, user, name, refusal)) {
    return refusal;
  }
  return answerChange(deleteCalendar(user, name), user, name);
}

}  // namespace orva_host
