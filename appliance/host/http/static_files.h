// The administration pages: plain files of one folder, served read-only.
#pragma once

#include <string>

#include "appliance/host/http/http_exchange.h"

namespace orva_host {

// The answer for a GET of path ("/" means "/index.html"): the file under
// folder with its content type, or 404. Only regular files inside the
// folder are served: no "..", no hidden names, nothing a symbolic link
// leads to outside it.
HttpAnswer staticFileAnswer(const std::string& folder, const std::string& path);

// The content type for a file name, by its extension.
std::string contentTypeFor(const std::string& name);

}  // namespace orva_host
