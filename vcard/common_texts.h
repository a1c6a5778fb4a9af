// Texts that exporters write on nearly every card: TYPE values and the
// labels of their own item groups. The reader gives them as static strings
// of the module, which need no allocation and nothing to free.
#pragma once

#include <json/value.h>

#include <string_view>

namespace orva_vcard {

// The JSON string of text when it is one of the common texts (compared byte
// for byte, so every spelling is kept as written), or nullptr. The value is
// made once and never changed; copy its payload.
const Json::Value* commonText(std::string_view text);

// Sets member to text in place: a common text as the module's static string,
// any other as a copy.
void setCommonOrText(Json::Value& member, std::string_view text);

}  // namespace orva_vcard
