// "add_card": stores the page's contact record as a new card of the user.
#include <utility>

#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::addCard() {
  if (!orva_params::requireParams(request, response, __LINE__, {"card", "user"})) return;
  std::string userName;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", userName)) return;
  // Types are checked before the store is touched, so a bad request sets up
  // no user.
  Json::Value record = request->GetParam("card", Json::Value());
  if (!record.isObject()) {
    orva_params::answerIncorrectParameter(response, __LINE__, "check type of card(object)");
    return;
  }

  std::string guid = dbHandler.GetGUID(userName);
  if (guid.empty()) {
    dbHandler.SetupUserBasicInfo(userName);
    guid = dbHandler.GetGUID(userName);
  }

  // The page's own "id" is never used: the card is named, and its UID
  // written, with a fresh resource name.
  const std::string resourceName = dbHandler.GetUUID();
  record["id"] = resourceName;
  const std::string text = setCardContent(std::move(record));
  if (!dbHandler.AddCard(guid, resourceName, text)) {
    response->SetError(orva_errors::kSetCard, Json::Value(orva_errors::kSetCardText));
    return;
  }
  response->SetSuccess(Json::Value());
}
