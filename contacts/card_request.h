// The two parameters that add_card and edit_card share.
#pragma once

#include <json/value.h>

#include <string>

#include "platform/webapi.h"

namespace orva_contacts {

// Checks that "card" and "user" are present, reads "user" as a string and
// "card" as an object. On any failure it has answered (900 or 901) and
// returns false; nothing has been read from the store.
bool readCardRequest(ORVA::APIRequest* request, ORVA::APIResponse* response, std::string& userName,
                     Json::Value& record);

// True when the stored card, read and written back unchanged, gives text:
// the record sent changes nothing of the card.
bool writesSameCard(const std::string& storedText, const std::string& text);

}  // namespace orva_contacts
