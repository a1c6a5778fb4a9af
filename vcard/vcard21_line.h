// One content line of an imported card, as vCard 3.0 wants it. Files from
// phones and desktop mail clients are vCard 2.1: quoted-printable and base64
// values, values in other character sets, bare parameters ("TEL;CELL:") and
// unescaped text. The contact store keeps only 3.0.
#pragma once

#include <string>
#include <string_view>

#include "vcard/charset_to_utf8.h"

namespace orva_vcard {

// What appendLineAs30 changed so that the server keeps a line it would
// otherwise refuse or read otherwise.
enum class LineRepair { kNone, kDataUri, kPropertyName, kUndefinedEscape };

// Appends the unfolded content line (no line break at its end) in 3.0 form:
//  - ENCODING=QUOTED-PRINTABLE, or QUOTED-PRINTABLE alone: the value is
//    decoded and the parameter dropped;
//  - CHARSET=name: the value is read in that character set and the
//    parameter dropped; a value in no named set, or not valid in it, is
//    read as Utf8Decoder::textAsUtf8 does;
//  - ENCODING=BASE64, BASE64 alone or ENCODING=b: ENCODING=b, with the value's
//    blanks and line breaks removed and missing '=' padding added; a data:
//    URI under it keeps only its base64 part;
//  - ENCODING=7BIT or 8BIT, or either alone: dropped;
//  - any other parameter without '=' becomes TYPE=<it>;
//  - a group or property name with characters the server refuses keeps its
//    letters, digits and '-' (a property as an X- name);
//  - every other value is escaped as the server reads it back whole
//    (appendImportedText): N, ORG and ADR as components (five of N, seven of
//    ADR at most), CATEGORIES as a list, all others as one text; in a card
//    of version 2.1 (version21), and for a value that was quoted-printable
//    or named a CHARSET, a backslash is text, as 2.1 has it.
// Every other parameter, the group, the name and its letter case are kept as
// written. What is appended is always valid UTF-8; decoder reads the other
// character sets. Returns "" when the line was appended, with repair saying
// what was mended; otherwise why it cannot be kept (no ':', an ENCODING that
// names no known coding, base64 that does not decode), with nothing appended.
std::string_view appendLineAs30(std::string_view line, bool version21, Utf8Decoder& decoder,
                                std::string& out, LineRepair& repair);

// The words for a repair, for the import's answer and log.
std::string_view repairText(LineRepair repair);

// True when the line's parameters make its value quoted-printable, so that a
// '=' at the end of a line of the file continues the value on the next.
bool namesQuotedPrintable(std::string_view line);

}  // namespace orva_vcard
