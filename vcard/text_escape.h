// vCard's text escapes in one place: the writer, the reader's splitting of
// structured values and the import all use these rules, and the page mirrors
// them (ui/js/text-escape.js).
//
// Escapes: "\\" a backslash, "\," a comma, "\;" a semicolon, "\n" or "\N" a
// line break. Records carry texts as the card spells them, escapes included,
// so that a text read and written back keeps its bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orva_vcard {

// Which separators a value keeps unescaped.
enum class TextSeparators {
  kNone,        // FN, NOTE, TITLE, BDAY, one N component: ',' and ';' are text
  kComponents,  // ORG: ';' separates the units, ',' is text
  kNote,        // NOTE as records carry it: line breaks are LF, so "\n" and
                // "\N" are a backslash and a letter, not escapes
};

// Appends a value in its escaped form. A backslash that already starts an
// escape is kept with what follows; any other backslash is doubled; a ',' or
// ';' that is text and not escaped gets a backslash; each line break (CR LF,
// lone CR or LF) becomes "\n". Idempotent (kNote aside: there a value holds
// line breaks as LF, and a note read from a card writes back unchanged).
void appendEscaped(std::string& out, std::string_view text,
                   TextSeparators separators = TextSeparators::kNone);
std::string escaped(std::string_view text, TextSeparators separators = TextSeparators::kNone);

// What a person typed, as a value: every backslash doubled, every ',' and ';'
// escaped, line breaks as "\n". unescaped(escapedTyped(x)) == x for any x.
std::string escapedTyped(std::string_view typed);

// The text a value stands for: every escape undone; a backslash that starts
// no escape is kept.
std::string unescaped(std::string_view value);

// The end of the structured value's component starting at from: the next ';'
// that no backslash escapes, or value.size().
std::size_t componentEnd(std::string_view value, std::size_t from);

}  // namespace orva_vcard
