// "edit_card": replaces one stored card of the user with the page's record.
#include <utility>

#include "contacts/card_request.h"
#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::editCard() {
  std::string userName;
  Json::Value record;
  if (!orva_contacts::readCardRequest(request, response, userName, record)) return;
  // Absent or null names the empty resource, which the store then refuses.
  static constexpr char kResourceName[] = "resource_name";
  std::string resourceName;
  if (const Json::Value* name =
          record.find(kResourceName, kResourceName + sizeof kResourceName - 1)) {
    if (!name->isConvertibleTo(Json::stringValue)) {
      orva_params::answerIncorrectParameter(response, __LINE__,
                                            "check type of resource_name(string)");
      return;
    }
    resourceName = name->asString();
  }

  const std::string guid = dbHandler.GetGUID(userName);
  if (guid.empty()) {
    orva_params::logUnknownUser(__LINE__, userName);
    response->SetSuccess(Json::Value());
    return;
  }

  // An empty "id" makes the writer open with the card's own lines ("other"),
  // so its header, UID and unmapped properties survive the edit.
  record["id"] = "";
  const std::string text = setCardContent(std::move(record));
  if (!dbHandler.UpdateCard(guid, resourceName, text)) {
    orva_params::answerError(response, orva_errors::kSetCard);
    return;
  }
  response->SetSuccess(Json::Value());
}
