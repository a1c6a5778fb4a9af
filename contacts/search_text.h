// Texts as the search compares them: case folded for all of Unicode,
// accents taken off, runs of white space as one blank.
#pragma once

#include <string>
#include <string_view>

namespace orva_search {

// Appends the folded form of text to out. Valid UTF-8 is folded code point
// by code point (so a text contained in another stays contained once both
// are folded); a byte that starts no valid UTF-8 sequence is kept as it is.
void appendFolded(std::string& out, std::string_view text);
std::string folded(std::string_view text);

// True when text is valid UTF-8.
bool isUtf8(std::string_view text);

// The digits of a text, in order ("+1 (555) 010-0" gives "15550100").
void appendDigits(std::string& out, std::string_view text);

// True when a key reads as a phone number: digits with blanks, dashes, dots,
// brackets, slashes or a '+' only, and at least one digit.
bool isPhoneKey(std::string_view key);

}  // namespace orva_search
