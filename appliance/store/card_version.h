// A card's version: what "etag" carries to the page and back, so that an
// edit can tell whether the stored card changed since it was listed.
#pragma once

#include <string>
#include <string_view>

namespace orva_store {

// 32 lower-case hex digits: the first 128 bits of the SHA-256 of the card's
// bytes. Any change of the bytes changes it.
std::string cardVersion(std::string_view text);

}  // namespace orva_store
