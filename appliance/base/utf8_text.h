// Text that goes into a JSON answer must be UTF-8: names a client sent (an
// API, a form field, a user) may not be.
#pragma once

#include <string>

namespace orva_text {

// text with every byte that does not belong to a valid UTF-8 sequence
// (overlong forms, surrogates and code points beyond U+10FFFF included)
// replaced by U+FFFD; valid text comes back unchanged.
std::string validUtf8(const std::string& text);

}  // namespace orva_text
