// What makes two cards the same card for an import: their properties, as a
// no-op edit compares them. UID, REV, PRODID and VERSION, line order,
// folding, the letter case of property and parameter names, how a type list
// is spelled and whether a ',' or ';' of a text value is escaped do not count.
#pragma once

#include <string>
#include <string_view>

namespace orva_vcard {

// The card's properties in one canonical text: one line per property,
// "group.NAME;TYPE=A,B;OTHER=x:value", sorted. Equal for two cards exactly
// when they hold the same properties.
std::string cardIdentity(std::string_view cardText);

}  // namespace orva_vcard
