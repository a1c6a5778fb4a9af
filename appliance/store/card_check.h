// The store's gate for card texts. A single file that the CardDAV server
// cannot load makes it fail the whole address book for every client, so the
// store takes only texts that are exactly one well-formed vCard.
#pragma once

#include <string>

namespace orva_store {

// "" when the text is acceptable, otherwise the reason it is refused.
// Acceptable: valid UTF-8 without control characters other than tab, lines
// ended by CR LF (no lone CR or LF), ending "END:VCARD" CR LF, first line
// "BEGIN:VCARD", no other BEGIN or END line, a UID whose text before its
// first unescaped ',' is not blank (the server keeps only that part), no
// ENCODING on UID, and every line
// a folded continuation (leading space or tab) or a property line
// "[group.]name[;param[=value[,value]]]*:value" (names of letters, digits and
// '-'; a quoted parameter value may hold ':', ';' and ','), exactly one FN
// and at most one N, UID, VERSION and PRODID (names counted in any letter
// case and whatever their group). Refused, as the CardDAV server fails them: an
// ENCODING other than b (QUOTED-PRINTABLE, BASE64, binary, ...) or a bare
// QUOTED-PRINTABLE; with ENCODING=b or a bare BASE64, a value that is not
// strict base64 (groups of four, '=' padding only at the end, nothing else);
// a PROFILE line; a group on UID, PRODID or CATEGORIES; an ORG value
// holding a ',' that no backslash escapes. Refused too, as the server would
// serve them otherwise than stored: a parameter without a value (BASE64 too),
// an empty parameter value, an encoded N, ADR, ORG or CATEGORIES, and the
// values of served_value.h.
std::string cardTextRefusal(const std::string& text);

}  // namespace orva_store
