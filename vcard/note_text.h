// Note text as the page shows it.
#pragma once

#include <cstddef>
#include <string>

namespace orva_vcard {

// Appends size bytes of text to note with the vCard line-break escape undone:
// scanning from the left, "\\" is copied as it stands and "\n" or "\N"
// becomes one LF. Every other byte, other backslashes included, is copied.
void appendNoteText(std::string& note, const char* text, std::size_t size);

}  // namespace orva_vcard
