// Text values of vCard 2.1 cards in the escaped form of vCard 3.0.
#pragma once

#include <string>
#include <string_view>

namespace orva_vcard {

// kSingle: one text (FN, NOTE, TITLE). kCompound: components separated by
// ';' (N, ORG, ADR).
enum class TextShape { kSingle, kCompound };

// Appends a 2.1 text value escaped as 3.0 requires: ',' becomes "\,", ';'
// becomes "\;" unless it separates components, a line break (CR LF, CR or
// LF) becomes "\n" and a lone backslash "\\". A backslash that already
// escapes ';', ',', '\' or n/N is kept with what it escapes, as 2.1 writes
// "\;" for a ';' within a component.
void appendEscaped21Text(std::string_view text, TextShape shape, std::string& out);

// Appends text with each line break (CR LF, CR or LF) written as "\n" and
// nothing else changed.
void appendWithEscapedLineBreaks(std::string_view text, std::string& out);

}  // namespace orva_vcard
