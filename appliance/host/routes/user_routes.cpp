#include "appliance/host/routes/user_routes.h"

#include <map>

#include "appliance/host/accounts/password_file.h"
#include "appliance/host/accounts/user_collections.h"
#include "appliance/host/accounts/user_name.h"

namespace orva_host {

namespace {

constexpr const char* kPlainRule =
    "user names have no '/', '\\', ':' or '..', no control character, no blank at either end, "
    "no '.' first or '~' last, and at most 100 bytes";

// The user a request names: the stored user it signs in as (the same name
// but for case or composed accents), or one that only has data, or the name
// as given.
bool namedUser(const RouteContext& context, const Json::Value& request, std::string& user,
               HttpAnswer& refusal) {
  if (!textMember(request, "user", true, user, refusal)) return false;
  std::string stored = signInName(readPasswordFile(context.root), user);
  if (stored.empty()) {
    const std::string key = userNameKey(user);
    for (const std::string& name : storedUsers()) {
      if (name == user || (stored.empty() && !key.empty() && userNameKey(name) == key)) {
        stored = name;
      }
    }
  }
  if (!stored.empty()) user = stored;
  if (isPlainUserName(user)) return true;
  refusal = refusalAnswer(400, kBadUserName, kPlainRule);
  return false;
}

// A name for a new user, in NFC.
bool newUser(const Json::Value& request, std::string& user, HttpAnswer& refusal) {
  std::string given, reason;
  if (!textMember(request, "user", true, given, refusal)) return false;
  if (!acceptNewUserName(given, user, reason)) {
    refusal = refusalAnswer(400, kBadUserName, "user name refused: " + reason);
    return false;
  }
  if (isPlainUserName(user)) return true;
  refusal = refusalAnswer(400, kBadUserName, kPlainRule);
  return false;
}

HttpAnswer sameUser(const std::string& existing, const std::string& user) {
  if (existing == user) return refusalAnswer(409, kUserExists, "user " + user);
  return refusalAnswer(409, kUserExists,
                       "user " + existing + " exists, the same user as " + user +
                           ": names that differ only in case or accents' composition are one");
}

// The hash to store: made from "password", or "hash" as given when the
// server can check it.
bool hashToStore(const Json::Value& request, std::string& hash, HttpAnswer& refusal) {
  std::string password, given;
  if (!textMember(request, "password", false, password, refusal) ||
      !textMember(request, "hash", false, given, refusal)) {
    return false;
  }
  if (request.isMember("password") == request.isMember("hash")) {
    refusal = refusalAnswer(400, kBadRequest, "give either \"password\" or \"hash\"");
    return false;
  }
  std::string reason;
  if (request.isMember("password")) {
    if (bcryptHash(password, hash, reason)) return true;
    refusal = refusalAnswer(400, kPasswordRefused, reason);
    return false;
  }
  if (isCheckableHash(given)) {
    hash = given;
    return true;
  }
  refusal = refusalAnswer(400, kPasswordRefused,
                          "the hash is " + hashKind(given) +
                              ", which the server cannot check; give a bcrypt hash "
                              "(htpasswd -nB) or the password");
  return false;
}

struct Counts {
  int cards = 0;
  int calendars = 0;
  int events = 0;
};

Counts countsOf(const std::vector<Collection>& collections) {
  Counts counts;
  for (const Collection& collection : collections) {
    if (collection.kind == "addressbook") counts.cards += collection.items;
    if (collection.kind == "calendar") {
      counts.calendars += 1;
      counts.events += collection.items;
    }
  }
  return counts;
}

Json::Value collectionsToJson(const std::vector<Collection>& collections) {
  Json::Value list(Json::arrayValue);
  for (const Collection& collection : collections) {
    Json::Value item(Json::objectValue);
    item["name"] = collection.name;
    item["kind"] = collection.kind;
    item["display_name"] = collection.displayName;
    item["items"] = collection.items;
    list.append(item);
  }
  return list;
}

bool signsIn(const std::string& root, const std::string& user) {
  for (const PasswordEntry& entry : readPasswordFile(root)) {
    if (entry.user == user) return true;
  }
  return false;
}

HttpAnswer changeFailed() { return refusalAnswer(500, kApplianceFailed, "see var/log/webapi.log"); }

}  // namespace

Json::Value collectionsJson(const std::string& user) {
  return collectionsToJson(userCollections(user));
}

HttpAnswer listUsersRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  if (!request.isNull() && !onlyKeys(request, {}, refusal)) return refusal;
  // Sign-ins first, in name order, with the users that only have data.
  std::map<std::string, const PasswordEntry*> signIns;
  const std::vector<PasswordEntry> entries = readPasswordFile(context.root);
  for (const PasswordEntry& entry : entries) signIns.emplace(entry.user, &entry);
  std::map<std::string, bool> names;
  for (const auto& signIn : signIns) names[signIn.first] = true;
  for (const std::string& user : storedUsers()) names.emplace(user, false);
  // Which name a look-alike signs in as: the first in the file.
  std::map<std::string, std::string> firstByKey;
  for (const PasswordEntry& entry : entries)
    firstByKey.emplace(userNameKey(entry.user), entry.user);
  for (const auto& name : names) firstByKey.emplace(userNameKey(name.first), name.first);

  Json::Value users(Json::arrayValue);
  for (const auto& name : names) {
    Json::Value user(Json::objectValue);
    user["name"] = name.first;
    user["sign_in"] = name.second;
    if (name.second) {
      const std::string& hash = signIns[name.first]->hash;
      user["password"] = hashKind(hash);
      user["password_checkable"] = isCheckableHash(hash);
    }
    const std::vector<Collection> collections =
        isPlainUserName(name.first) ? userCollections(name.first) : std::vector<Collection>();
    const Counts counts = countsOf(collections);
    user["plain_name"] = isPlainUserName(name.first);
    std::string warning = userNameWarning(name.first);
    const std::string key = userNameKey(name.first);
    if (!key.empty() && firstByKey[key] != name.first) {
      warning = (warning.empty() ? "" : warning + "; ") + "the same name as " + firstByKey[key] +
                " but for case or accents' composition, which signs in first";
    }
    if (!warning.empty()) user["name_warning"] = warning;
    user["cards"] = counts.cards;
    user["calendars"] = counts.calendars;
    user["events"] = counts.events;
    user["collections"] = collectionsToJson(collections);
    users.append(user);
  }
  Json::Value data(Json::objectValue);
  data["users"] = users;
  return dataAnswer(data);
}

HttpAnswer addUserRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, hash;
  if (!onlyKeys(request, {"user", "password", "hash"}, refusal) ||
      !newUser(request, user, refusal) || !hashToStore(request, hash, refusal)) {
    return refusal;
  }
  std::string existing = signInName(readPasswordFile(context.root), user);
  // A user removed with the data kept is added again under the same name only.
  const std::string key = userNameKey(user);
  for (const std::string& name : storedUsers()) {
    if (existing.empty() && name != user && userNameKey(name) == key) existing = name;
  }
  if (!existing.empty()) return sameUser(existing, user);
  if (!setUpUserCollections(user)) return changeFailed();
  switch (addPasswordEntry(context.root, user, hash, &existing)) {
    case PasswordChange::kDone:
      break;
    case PasswordChange::kExists:
      return sameUser(existing, user);
    default:
      return changeFailed();
  }
  Json::Value data(Json::objectValue);
  data["user"] = user;
  data["collections"] = collectionsJson(user);
  return dataAnswer(data);
}

HttpAnswer setPasswordRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, hash;
  if (!onlyKeys(request, {"user", "password", "hash"}, refusal) ||
      !namedUser(context, request, user, refusal) || !hashToStore(request, hash, refusal)) {
    return refusal;
  }
  switch (setPasswordEntry(context.root, user, hash)) {
    case PasswordChange::kDone:
      break;
    case PasswordChange::kMissing:
      return refusalAnswer(404, kNoSuchUser, "user " + user);
    default:
      return changeFailed();
  }
  // A user made by hand (htpasswd) has nothing yet: the same set-up as an
  // added user, so that discovery finds a book and a calendar.
  if (userCollections(user).empty() && !setUpUserCollections(user)) return changeFailed();
  Json::Value data(Json::objectValue);
  data["user"] = user;
  return dataAnswer(data);
}

HttpAnswer removeUserRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user;
  if (!onlyKeys(request, {"user", "delete_data"}, refusal) ||
      !namedUser(context, request, user, refusal)) {
    return refusal;
  }
  if (request.isMember("delete_data") && !request["delete_data"].isBool()) {
    return refusalAnswer(400, kBadRequest, "\"delete_data\" must be true or false");
  }
  const bool deleteData = request.get("delete_data", false).asBool();
  const std::vector<Collection> collections = userCollections(user);
  const Counts counts = countsOf(collections);
  const bool hadSignIn = signsIn(context.root, user);
  if (!hadSignIn && (!deleteData || collections.empty())) {
    return refusalAnswer(404, kNoSuchUser, "user " + user);
  }
  if (hadSignIn) {
    const PasswordChange removed = removePasswordEntry(context.root, user);
    if (removed == PasswordChange::kFailed) return changeFailed();
  }
  if (deleteData && !deleteUserData(user)) return changeFailed();
  Json::Value data(Json::objectValue);
  data["user"] = user;
  data["deleted_cards"] = deleteData ? counts.cards : 0;
  data["deleted_events"] = deleteData ? counts.events : 0;
  data["kept_cards"] = deleteData ? 0 : counts.cards;
  return dataAnswer(data);
}

}  // namespace orva_host
