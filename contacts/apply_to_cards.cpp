#include "contacts/apply_to_cards.h"

#include <string>

#include "module/error_codes.h"
#include "module/request_params.h"

namespace orva_contacts {

namespace {

// The form of a resource name the store can hold (see DBHandler); a name of
// any other form can only be refused.
bool isResourceNameForm(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.back() == '~') return false;
  for (char c : name) {
    if (c == '/' || c == '\0') return false;
  }
  return true;
}

}  // namespace

namespace {

// The checks both methods share. On any failure it has answered; guid is
// empty when the store does not know the user (answered as success).
bool readCardList(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store,
                  std::string& guid, Json::Value& ids) {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "id"})) return false;
  std::string user;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", user)) return false;
  ids = request->GetParam("id", Json::Value());

  guid = store.GetGUID(user);
  if (guid.empty()) {
    orva_params::logUnknownUser(__LINE__, user);
    response->SetSuccess(Json::Value());
    return false;
  }
  if (!ids.isArray()) {
    orva_params::answerIncorrectParameter(response, __LINE__, "check type of id(array)");
    return false;
  }
  if (ids.size() > orva_errors::kMaxCardsPerRequest) {
    orva_params::answerError(response, orva_errors::kTooManyCards,
                             "at most " + std::to_string(orva_errors::kMaxCardsPerRequest));
    return false;
  }
  // Every name is checked before the first store call, so that a bad element
  // further down does not leave the list half done.
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!ids[i].isConvertibleTo(Json::stringValue)) {
      orva_params::answerIncorrectParameter(response, __LINE__,
                                            "check type of id(array of strings)");
      return false;
    }
  }
  // A malformed name would be refused; refusing it before the first store
  // call keeps the names ahead of it from being done.
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!isResourceNameForm(ids[i].asString())) {
      orva_params::answerError(response, orva_errors::kDeleteItems);
      return false;
    }
  }
  return true;
}

}  // namespace

void applyToCards(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store,
                  CardOperation operation) {
  std::string guid;
  Json::Value ids;
  if (!readCardList(request, response, store, guid, ids)) return;
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!(store.*operation)(guid, ids[i].asString())) {
      orva_params::answerError(response, orva_errors::kDeleteItems);
      return;
    }
  }
  response->SetSuccess(Json::Value());
}

void deleteCards(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store) {
  const Json::Value versions = request->GetParam("etag", Json::Value());
  if (versions.isNull()) {
    applyToCards(request, response, store, &DBHandler::DelCard);
    return;
  }
  std::string guid;
  Json::Value ids;
  if (!readCardList(request, response, store, guid, ids)) return;
  bool versionsFit = versions.isArray() && versions.size() == ids.size();
  for (Json::ArrayIndex i = 0; versionsFit && i < versions.size(); ++i) {
    versionsFit = versions[i].isString();
  }
  if (!versionsFit) {
    orva_params::answerIncorrectParameter(response, __LINE__,
                                          "check type of etag(array of strings, one per id)");
    return;
  }
  std::string changed;
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    const std::string name = ids[i].asString();
    std::string current;
    switch (store.DelCardIfVersion(guid, name, versions[i].asString(), current)) {
      case DBHandler::Outcome::kDone:
        break;
      case DBHandler::Outcome::kChanged:
        // Left for the person to see again; the others still go.
        changed += (changed.empty() ? "" : ", ") + name;
        break;
      case DBHandler::Outcome::kRefused:
        orva_params::answerError(response, orva_errors::kDeleteItems);
        return;
    }
  }
  if (!changed.empty()) {
    orva_params::answerError(response, orva_errors::kCardChanged, changed);
    return;
  }
  response->SetSuccess(Json::Value());
}

}  // namespace orva_contacts
