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

  // The version the card was listed with, when the caller sends it.
  static constexpr char kEtag[] = "etag";
  const Json::Value* etag = record.find(kEtag, kEtag + sizeof kEtag - 1);
  if (etag != nullptr && etag->isNull()) etag = nullptr;
  if (etag != nullptr && !etag->isString()) {
    orva_params::answerIncorrectParameter(response, __LINE__, "check type of etag(string)");
    return;
  }
  const std::string expected = etag != nullptr ? etag->asString() : std::string();

  // An empty "id" makes the writer open with the card's own lines ("other"),
  // so its header, UID and unmapped properties survive the edit.
  record["id"] = "";
  const std::string text = setCardContent(std::move(record));

  std::string stored;
  std::string version;
  const bool exists = dbHandler.GetCard(guid, resourceName, stored, version);
  if (etag != nullptr && (!exists || version != expected)) {
    orva_params::answerError(response, orva_errors::kCardChanged, exists ? version : "deleted");
    return;
  }
  // Nothing edited: the stored bytes stay as they are, whoever wrote them.
  if (exists && orva_contacts::writesSameCard(stored, text)) {
    response->SetSuccess(Json::Value());
    return;
  }
  if (!exists) {
    // No card to edit: the store's answer decides, as it always did.
    if (!dbHandler.UpdateCard(guid, resourceName, text)) {
      orva_params::answerError(response, orva_errors::kSetCard);
      return;
    }
    response->SetSuccess(Json::Value());
    return;
  }
  // Written only while the card is the one read: the check and the write
  // hold one lock.
  switch (dbHandler.UpdateCardIfVersion(guid, resourceName, text, version, version)) {
    case DBHandler::Outcome::kDone:
      response->SetSuccess(Json::Value());
      return;
    case DBHandler::Outcome::kChanged:
      if (etag != nullptr) {
        orva_params::answerError(response, orva_errors::kCardChanged,
                                 version.empty() ? "deleted" : version);
        return;
      }
      // Without a version the caller asked to replace whatever is stored.
      if (dbHandler.UpdateCard(guid, resourceName, text)) {
        response->SetSuccess(Json::Value());
        return;
      }
      orva_params::answerError(response, orva_errors::kSetCard);
      return;
    case DBHandler::Outcome::kRefused:
      orva_params::answerError(response, orva_errors::kSetCard);
      return;
  }
}
