#include "contacts/apply_to_cards.h"

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

void applyToCards(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store,
                  CardOperation operation) {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "id"})) return;
  std::string user;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", user)) return;
  const Json::Value ids = request->GetParam("id", Json::Value());

  const std::string guid = store.GetGUID(user);
  if (guid.empty()) {
    orva_params::logUnknownUser(__LINE__, user);
    response->SetSuccess(Json::Value());
    return;
  }
  if (!ids.isArray()) {
    orva_params::answerIncorrectParameter(response, __LINE__, "check type of id(array)");
    return;
  }
  // Every name is checked before the first store call, so that a bad element
  // further down does not leave the list half done.
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!ids[i].isConvertibleTo(Json::stringValue)) {
      orva_params::answerIncorrectParameter(response, __LINE__,
                                            "check type of id(array of strings)");
      return;
    }
  }
  // A malformed name would be refused; refusing it before the first store
  // call keeps the names ahead of it from being done.
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!isResourceNameForm(ids[i].asString())) {
      orva_params::answerError(response, orva_errors::kDeleteItems);
      return;
    }
  }
  for (Json::ArrayIndex i = 0; i < ids.size(); ++i) {
    if (!(store.*operation)(guid, ids[i].asString())) {
      orva_params::answerError(response, orva_errors::kDeleteItems);
      return;
    }
  }
  response->SetSuccess(Json::Value());
}

}  // namespace orva_contacts
