// "add_card": stores the page's contact record as a new card of the user.
#include <utility>

#include "contacts/card_request.h"
#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::addCard() {
  std::string userName;
  Json::Value record;
  if (!orva_contacts::readCardRequest(request, response, userName, record)) return;

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
    orva_params::answerError(response, orva_errors::kSetCard);
    return;
  }
  response->SetSuccess(Json::Value());
}
