// Content lines that the CardDAV server can load. A card holding one line it
// cannot load makes it fail the whole address book, so an import drops such
// a line rather than the card; the contact store refuses the same lines.
#pragma once

#include <string_view>

namespace orva_vcard {

// "" when the unfolded 3.0 content line (no line break) is one the server
// loads and writes back, otherwise why not:
//  - not "[group.]name[;param[=value[,value]]]*:value" with names of ASCII
//    letters, digits and '-' (a quoted parameter value may hold ':', ';' and
//    ',', but no '"');
//  - a C0 control character other than tab, or DEL, anywhere;
//  - a BEGIN, END or PROFILE line; a group on UID, PRODID or CATEGORIES
//    (the server reads them as calendar properties, which take none);
//  - an ENCODING other than b, or a bare QUOTED-PRINTABLE;
//  - with ENCODING=b or a bare BASE64, a value that is not strict base64, or
//    an N, ADR, ORG or CATEGORIES value (the server decodes none of them);
//  - an ORG value with a ',' that no backslash escapes.
// Names and parameter names are compared in any letter case.
std::string_view unservableLine(std::string_view line);

}  // namespace orva_vcard
