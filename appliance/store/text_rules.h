// Byte-level rules the store applies to names and card texts.
#pragma once

#include <string>

namespace orva_store {

// Well-formed UTF-8: no overlong forms, surrogates or points past U+10FFFF.
bool isValidUtf8(const std::string& text);

// Whether text holds a C0 control character (NUL, tab, CR and LF included)
// or DEL, other than those listed in allowed.
bool hasControlCharacter(const std::string& text, const char* allowed = "");

}  // namespace orva_store
