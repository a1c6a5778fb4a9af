// vCard's text escapes in one place: the writer, the reader's splitting of
// structured values and the import all use these rules, and the page mirrors
// them (ui/js/text-escape.js).
//
// Escapes: "\\" a backslash, "\," a comma, "\;" a semicolon, "\n" or "\N" a
// line break. Records carry texts as the card spells them, escapes included,
// so that a text read and written back keeps its bytes. Any other backslash
// stands for itself in a stored card; in an imported one it is read as the
// character after it, as the exporters that write "\:" mean it.
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

// A structured value of at most count components (N: 5, ADR: 7), each
// escaped as one text (appendEscaped, kNone); a ';' past the last component
// is escaped, so that no component is lost to a reader that takes only count.
void appendComponents(std::string& out, std::string_view value, std::size_t count);

// Whether appendEscaped would leave text as it stands.
bool isEscaped(std::string_view text, TextSeparators separators);

// Appends text with each line break (CR LF, CR or LF) written as "\n" and
// nothing else changed.
void appendWithEscapedLineBreaks(std::string& out, std::string_view text);

// Free address text for the street component: leading spaces dropped and
// every backslash doubled, up to the first NUL.
std::string formulateText(const char* text);

// What a person typed, as a value: every backslash doubled, every ',' and ';'
// escaped, line breaks as "\n". unescaped(escapedTyped(x)) == x for any x.
std::string escapedTyped(std::string_view typed);

// The text a value stands for: every escape undone; a backslash that starts
// no escape is kept.
std::string unescaped(std::string_view value);

// The end of the structured value's component starting at from: the next ';'
// that no backslash escapes, or value.size().
std::size_t componentEnd(std::string_view value, std::size_t from);

// kSingle: one text (all but the next). kCompound: components separated by
// ';' (N, ORG, ADR). kList: texts separated by ',' (CATEGORIES).
enum class TextShape { kSingle, kCompound, kList };

// Appends a text value of an imported card escaped as 3.0 requires: ','
// becomes "\," unless it separates list items, ';' becomes "\;" unless it
// separates components, a line
// break (CR LF, CR or LF) becomes "\n" and a lone backslash at the end "\\".
// A backslash that escapes ';', ',', '\' or n/N is kept with what it
// escapes, as 2.1 writes "\;" for a ';' within a component; one before any
// other character is dropped, that character read as itself (returns
// whether there was such a backslash), unless backslashIsText (2.1 text,
// where such a backslash is doubled).
bool appendImportedText(std::string& out, std::string_view text, TextShape shape,
                        bool backslashIsText = false);

// Whether an imported text needs appendImportedText: it holds a ',' or ';'
// that is text and no backslash escapes, a line break, or a backslash that
// starts no escape.
bool needsImportEscapes(std::string_view text, TextShape shape, bool backslashIsText = false);

// Appends a stored value so that the CardDAV server serves what the card
// holds: a ',' (or ';') that is text gets its backslash, "\"" (which the
// server reads as a quote, as clients have shown it) becomes the quote, and
// a lone backslash at the end is doubled; every other byte, escapes
// included, stays. Returns whether anything changed.
bool appendServedText(std::string& out, std::string_view value, TextShape shape);

}  // namespace orva_vcard
