// Values that the CardDAV server would serve otherwise than they are stored.
// Its vCard library reads every property but N, ADR, ORG and CATEGORIES as
// one text, cut at the first ',' that no backslash escapes; it pads N to
// five components and ADR to seven and drops any beyond; it reads "\"" as
// a quote and a backslash at a value's end as a backslash and "eof". A card
// stored with such a value would reach every client changed, and the first
// client to save it back would make the change for good.
#pragma once

#include <string>

namespace orva_store {

// "" when the server serves the unfolded value of property name (any letter
// case) as it stands, otherwise the reason, naming the property. Base64
// values are the caller's to judge.
std::string servedValueFault(const std::string& name, const std::string& value);

}  // namespace orva_store
