// The download of exported cards: the module's export_cards for one user's
// cards, then those cards' files from that user's export folder, joined in
// the order asked for.
#pragma once

#include <json/value.h>

#include <string>

#include "appliance/host/http/http_exchange.h"
#include "appliance/host/api/module_loader.h"

namespace orva_host {

// A user or card name that may be a file name in the export folder: not
// empty, not "." or "..", no '/', NUL or control character.
bool isPlainExportName(const std::string& name);

// Answers a download request {"user":USER,"id":[ID,...]} (already parsed).
// 200 text/vcard with the cards; 200 application/json with the module's
// envelope when the export fails; 400 or 404 with a host envelope.
HttpAnswer exportDownload(const LoadedModule& module, const std::string& root,
                          const Json::Value& request);

}  // namespace orva_host
