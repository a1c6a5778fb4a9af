// The module's exported surface: the method table, GetAPITable and the eight
// entry functions. Each entry builds one handler, runs one method, and lets
// the handler go.
#include "module/api_table.h"

#include <exception>
#include <string>

#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

namespace {

constexpr const char* kCommonApi = "ORVA.ContactAndCalendar.Common";
constexpr const char* kContactsApi = "ORVA.ContactAndCalendar.Contacts";

void answerUnexpected(ORVA::APIResponse* response, const char* what) noexcept {
  try {
    ErrorLog(orva_params::kLogSource, __LINE__, 1, "unexpected failure: %s", what);
    if (!response->IsAnswered())
      orva_params::answerError(response, orva_errors::kIncorrectParameter);
  } catch (...) {
    // Nothing more can be said without memory; the host answers for us.
  }
}

// Methods answer their own failures; this is the last guard, so that an
// exception from a library call becomes an error answer instead of reaching
// the host. The handler is already destroyed when the catch runs.
template <void (ContactAndCalendarHandler::*Method)()>
void runOnHandler(ORVA::APIRequest* request, ORVA::APIResponse* response, const char* name) {
  try {
    ContactAndCalendarHandler handler(request, response, std::string(name));
    (handler.*Method)();
  } catch (const std::exception& e) {
    answerUnexpected(response, e.what());
  } catch (...) {
    answerUnexpected(response, "unknown exception");
  }
}

}  // namespace

extern "C" {

void common_get(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::getCommonSetting>(request, response, "common_get");
}

void common_set(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::setCommonSetting>(request, response, "common_set");
}

void contact_list_cards(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::listCards>(request, response, "contact_list_cards");
}

void contact_delete_cards(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::deleteCards>(request, response, "contact_delete_cards");
}

void contact_edit_card(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::editCard>(request, response, "contact_edit_card");
}

void contact_add_card(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::addCard>(request, response, "contact_add_card");
}

void contact_import_cards(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::importCards>(request, response, "contact_import_cards");
}

void contact_export_cards(ORVA::APIRequest* request, ORVA::APIResponse* response) {
  runOnHandler<&ContactAndCalendarHandler::exportCards>(request, response, "contact_export_cards");
}

const APITableEntry gTable[] = {
    {kCommonApi, 1, "get", common_get},
    {kCommonApi, 1, "set", common_set},
    {kContactsApi, 1, "list_cards", contact_list_cards},
    {kContactsApi, 1, "delete_cards", contact_delete_cards},
    {kContactsApi, 1, "edit_card", contact_edit_card},
    {kContactsApi, 1, "add_card", contact_add_card},
    {kContactsApi, 1, "import_cards", contact_import_cards},
    {kContactsApi, 1, "export_cards", contact_export_cards},
    {nullptr, 0, nullptr, nullptr},
};

const APITableEntry* GetAPITable() { return gTable; }

}  // extern "C"
