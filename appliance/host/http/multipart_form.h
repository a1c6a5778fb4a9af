// The fields of a multipart/form-data body, read whole.
#pragma once

#include <string>
#include <vector>

#include "appliance/host/http/http_exchange.h"

namespace orva_host {

// Whether a Content-Type value names multipart/form-data.
bool isMultipartForm(const std::string& contentType);

// The boundary parameter of a multipart Content-Type; "" when there is none
// or it is not a valid boundary.
std::string multipartBoundary(const std::string& contentType);

// Splits body into its fields (name, file name, content). False with a
// reason in error when the body is not a well-formed form with that
// boundary, or has more than maxParts fields.
bool parseMultipartForm(const std::string& body, const std::string& boundary, size_t maxParts,
                        std::vector<FormPart>& parts, std::string& error);

}  // namespace orva_host
