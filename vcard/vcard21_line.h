// One content line of an imported card, as vCard 3.0 wants it. Files from
// phones and desktop mail clients are vCard 2.1: quoted-printable and base64
// values, values in other character sets, bare parameters ("TEL;CELL:") and
// unescaped text. The contact store keeps only 3.0.
#pragma once

#include <string>
#include <string_view>

#include "vcard/charset_to_utf8.h"

namespace orva_vcard {

// Appends the unfolded content line (no line break at its end) in 3.0 form:
//  - ENCODING=QUOTED-PRINTABLE, or QUOTED-PRINTABLE alone: the value is
//    decoded and the parameter dropped;
//  - CHARSET=name: the value is read in that character set and the
//    parameter dropped; a value in no named set, or not valid in it, is
//    read as Utf8Decoder::textAsUtf8 does;
//  - line breaks of a decoded or converted value become "\n";
//  - ENCODING=BASE64, BASE64 alone or ENCODING=b: ENCODING=b, with the value's
//    blanks and line breaks removed and missing '=' padding added;
//  - ENCODING=7BIT or 8BIT, or either alone: dropped;
//  - any other parameter without '=' becomes TYPE=<it>;
//  - in a card of version 2.1 (version21), and in any card for a value
//    that was quoted-printable or named a CHARSET, the values of FN, NOTE and
//    TITLE, and the components of N, ORG and ADR, are escaped as 3.0 text;
//  - in other 3.0 and 4.0 lines, FN, NOTE, TITLE, each N component and ORG
//    are escaped with the writer's rule (orva_vcard::appendEscaped), which
//    leaves an escaped value as it stands.
// Every other parameter, the group, the name and its letter case are kept as
// written. What is appended is always valid UTF-8; decoder reads the other
// character sets. Returns "" when the line was appended; otherwise why it
// cannot be kept (no ':', an ENCODING that names no known coding, base64
// that does not decode), with nothing appended.
std::string_view appendLineAs30(std::string_view line, bool version21, Utf8Decoder& decoder,
                                std::string& out);

// True when the line's parameters make its value quoted-printable, so that a
// '=' at the end of a line of the file continues the value on the next.
bool namesQuotedPrintable(std::string_view line);

}  // namespace orva_vcard
