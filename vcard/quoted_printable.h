// Quoted-printable values of vCard 2.1 files ("J=C3=B6rg", "line=0D=0Anext").
#pragma once

#include <string>
#include <string_view>

namespace orva_vcard {

// The bytes that encoded stands for: "=XX" (hex digits in either case) is one
// byte, '=' before a line break or at the very end is a soft break and
// vanishes (with the line break), and any other '=' stands for itself, so a
// damaged value loses nothing.
std::string decodeQuotedPrintable(std::string_view encoded);

// True when the value goes on in the next line of the file: its last
// character is the '=' of a soft line break.
bool endsWithSoftBreak(std::string_view encoded);

}  // namespace orva_vcard
