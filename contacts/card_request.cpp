#include "contacts/card_request.h"

#include "module/request_params.h"
#include "vcard/card_reader.h"
#include "vcard/card_writer.h"

namespace orva_contacts {

bool readCardRequest(ORVA::APIRequest* request, ORVA::APIResponse* response, std::string& userName,
                     Json::Value& record) {
  if (!orva_params::requireParams(request, response, __LINE__, {"card", "user"})) return false;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", userName)) return false;
  // Types are checked before the store is touched, so a bad request sets up
  // no user and changes nothing.
  record = request->GetParam("card", Json::Value());
  if (!record.isObject()) {
    orva_params::answerIncorrectParameter(response, __LINE__, "check type of card(object)");
    return false;
  }
  return true;
}

bool writesSameCard(const std::string& storedText, const std::string& text) {
  Json::Value labels;
  Json::Value record;
  orva_vcard::readLabels(storedText, labels);
  orva_vcard::readCardText(storedText, labels, record);
  record["id"] = "";
  return orva_vcard::writeCard(record) == text;
}

}  // namespace orva_contacts
