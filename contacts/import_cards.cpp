#include <cstdint>

#include "contacts/vcard_file_reader.h"
#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

void ContactAndCalendarHandler::importCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "file_tmp", "file"}))
    return;
  std::string user;
  std::string path;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", user)) return;
  if (!orva_params::readStringParam(request, response, __LINE__, "file_tmp", path)) return;

  const std::string guid = dbHandler.GetGUID(user);
  if (guid.empty()) {
    orva_params::logUnknownUser(__LINE__, user);
    response->SetSuccess(Json::Value());
    return;
  }

  // Each card goes to the store as soon as it ends; refused cards are left out.
  std::uint64_t stored = 0;
  orva_contacts::CardAssembler assembler(
      [this] { return dbHandler.GetUUID(); },
      [this, &guid, &stored](const std::string& name, const std::string& text) {
        if (dbHandler.AddCard(guid, name, text)) ++stored;
      });
  orva_contacts::readVCardFile(path, assembler);

  if (stored == 0) {
    orva_params::answerError(response, orva_errors::kSetCard);
    return;
  }
  response->SetSuccess(Json::Value());
}
