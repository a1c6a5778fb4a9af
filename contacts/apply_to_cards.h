// The one procedure behind delete_cards and export_cards: check "user" and
// "id", resolve the user, then hand each named card to one store operation.
#pragma once

#include <string>

#include "platform/contact_store.h"
#include "platform/webapi.h"

namespace orva_contacts {

// A store operation on one card of one user: DBHandler::DelCard or
// DBHandler::ExportData. True when done.
using CardOperation = bool (DBHandler::*)(std::string guid, std::string resourceName);

// Answers exactly once on response:
//  - 900 when "user" or "id" is missing, 901 when "user" is no string;
//  - success (null) with a syslog line when the store does not know the user;
//  - 901 when "id" is not an array, or holds an element that is no string
//    (nothing is handed to the store then);
//  - 1013 when "id" names more than orva_errors::kMaxCardsPerRequest cards;
//  - 1009 when any name is not of the form of a resource name (empty, '/',
//    NUL, leading '.', trailing '~'), before any is tried;
//  - 1009 at the first name the operation refuses (later names are not tried);
//  - success (null) when every name was done, or the array is empty.
void applyToCards(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store,
                  CardOperation operation);

// delete_cards: applyToCards with DelCard, and an optional "etag" beside "id"
// (an array of the same length, each the version the card was listed with;
// 901 otherwise). A card whose version differs is not deleted; the others
// are, and the answer is then 1012 naming those left: "<text>: <id>, <id>".
void deleteCards(ORVA::APIRequest* request, ORVA::APIResponse* response, DBHandler& store);

}  // namespace orva_contacts
