#include <cstdint>
#include <string>

#include "contacts/vcard_file_reader.h"
#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

namespace {

std::string importCounts(std::uint64_t stored, std::uint64_t skipped) {
  return "stored " + std::to_string(stored) + ", skipped " + std::to_string(skipped);
}

}  // namespace

void ContactAndCalendarHandler::importCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "file_tmp", "file"}))
    return;
  std::string user;
  std::string path;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", user)) return;
  if (!orva_params::readStringParam(request, response, __LINE__, "file_tmp", path)) return;

  // As list and add do: a user the store does not know yet is set up, so
  // that an import never answers success with nothing stored.
  std::string guid = dbHandler.GetGUID(user);
  if (guid.empty()) {
    dbHandler.SetupUserBasicInfo(user);
    guid = dbHandler.GetGUID(user);
  }
  if (guid.empty()) {
    // A name the store refuses (see SetupUserBasicInfo): nothing is read.
    response->SetError(orva_errors::kSetCard,
                       Json::Value(std::string(orva_errors::errorText(orva_errors::kSetCard)) +
                                   ": the store cannot set up the user; " + importCounts(0, 0)));
    return;
  }

  // Each card goes to the store as soon as it ends. A card the store refuses
  // is skipped; a store that cannot write stops the import.
  std::uint64_t stored = 0;
  std::uint64_t skipped = 0;
  bool storeFailed = false;
  orva_contacts::CardAssembler assembler(
      [this] { return dbHandler.GetUUID(); },
      [&](const std::string& name, const std::string& text) {
        if (dbHandler.AddCard(guid, name, text)) {
          ++stored;
          return true;
        }
        if (dbHandler.LastCardFault() == DBHandler::CardFault::kTextRefused) {
          ++skipped;
          return true;
        }
        storeFailed = true;
        return false;
      },
      [&](std::string_view name, std::string_view reason) {
        const std::string message = "import_cards: card " + std::to_string(stored + skipped + 1) +
                                    ": line " + std::string(name) +
                                    " dropped: " + std::string(reason);
        orva_params::logError(__LINE__, message.c_str());
      });
  const bool opened = orva_contacts::readVCardFile(path, assembler);

  if (storeFailed || stored == 0) {
    // The counts say how much of the file is in the book; the cards stored
    // before a failure stay stored.
    std::string detail = std::string(orva_errors::errorText(orva_errors::kSetCard)) + ": ";
    if (storeFailed) {
      detail += "the store could not write a card; ";
    } else if (!opened) {
      detail += "the file cannot be read; ";
    }
    detail += importCounts(stored, skipped);
    response->SetError(orva_errors::kSetCard, Json::Value(detail));
    return;
  }
  Json::Value data(Json::objectValue);
  data["stored"] = Json::Value::UInt64(stored);
  data["skipped"] = Json::Value::UInt64(skipped);
  response->SetSuccess(data);
}
