// Lines a card holds that the CardDAV server would serve otherwise than they
// stand: it drops parameters without a value and empty parameter values,
// cuts a one-text value at its first bare ',', reads "\"" as a quote, and
// keeps five N components and seven ADR ones. Cards that clients stored
// through the server may hold such lines; the writer mends them so that an
// edit stores, and every client reads, what the card holds.
#pragma once

#include <string>
#include <string_view>

#include "vcard/text_escape.h"

namespace orva_vcard {

// How the server reads a property's value: N, ORG and ADR as components,
// CATEGORIES as a list, every other one as one text.
TextShape valueShapeOf(std::string_view name);

// Appends one parameter ("name[=value[,value]*]", no leading ';') as the
// server keeps it: a bare one (2.1's "HOME") as TYPE=<it>, but BASE64 as
// ENCODING=b and QUOTED-PRINTABLE as it stands; empty values left out. Appends
// nothing (and returns false) when no value is left.
bool appendServedParameter(std::string& out, std::string_view parameter);

// Appends the unfolded content line (no line break) mended as above;
// returns whether anything changed. A value under a base64 parameter is
// left as it stands.
bool appendServedLine(std::string& out, std::string_view line);

// Appends each line of text (lines ended by CR LF, folded ones continued by
// a leading blank or tab) as it stands, or unfolded and mended when
// appendServedLine changes it.
void appendServedLines(std::string& out, std::string_view text);

}  // namespace orva_vcard
