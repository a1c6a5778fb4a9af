// POST /webapi/restore: cards written back byte for byte under their own
// resource names, so that the page can undo a merge of duplicate cards. The
// module has no call that stores a text under a given name; this route goes
// to the contact store directly, whose checks of a card's text still apply.
#pragma once

#include <json/value.h>

#include "appliance/host/http/http_exchange.h"

namespace orva_host {

// The path of the route.
inline constexpr const char* kRestorePath = "/webapi/restore";

// Answers {"user":USER,"cards":[{"id":ID,"text":TEXT[,"etag":VERSION]},...]}
// (already parsed): each text is stored under its id in the user's book,
// replacing the card there (only while it still has VERSION, when given) or
// adding it when it is gone. All or nothing: a refusal puts back the cards
// already written. 200 {"success":true,"data":{"restored":N}}; 400 with a
// host envelope for a request of another shape, a name that is not plain, an
// unknown user or a text the store refuses; 409 for a card whose version is
// no longer VERSION; 500 when the store cannot write. Nothing changed then.
HttpAnswer restoreCards(const Json::Value& request);

}  // namespace orva_host
