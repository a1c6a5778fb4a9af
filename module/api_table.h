// The module's exported names (C linkage): the method table, the function that
// hands it out, and the eight entry functions it names.
#pragma once

#include "platform/webapi.h"

// The module is built with hidden visibility; these are its only exports.
#define ORVA_EXPORT __attribute__((visibility("default")))

extern "C" {

// Eight method rows, then a row of zeros.
ORVA_EXPORT extern const APITableEntry gTable[];
// The first row of gTable.
ORVA_EXPORT const APITableEntry* GetAPITable();

ORVA_EXPORT void common_get(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void common_set(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_list_cards(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_delete_cards(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_edit_card(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_add_card(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_import_cards(ORVA::APIRequest* request, ORVA::APIResponse* response);
ORVA_EXPORT void contact_export_cards(ORVA::APIRequest* request, ORVA::APIResponse* response);
}
