// What serve answers, independent of how requests are read off the wire:
//   POST /webapi         a JSON request, or a multipart upload for import
//   POST /webapi/export  exported cards as one .vcf download
//   GET  /...            the administration pages (no token needed)
// Every /webapi route needs "Authorization: Bearer TOKEN".
#pragma once

#include <string>

#include "appliance/host/api/host_codes.h"
#include "appliance/host/http/http_exchange.h"
#include "appliance/host/api/module_loader.h"

namespace orva_host {

class WebRoutes {
 public:
  // The module, the root and the token outlive the routes.
  WebRoutes(const LoadedModule& module, const std::string& root, const std::string& uiFolder,
            const std::string& token);

  // Whether the request line alone already settles the answer without the
  // token: a /webapi path with a wrong or missing token. Checked before the
  // body is read.
  bool refusedWithoutBody(const std::string& path, const std::string& authorization) const;

  // The answer to a whole request. Never throws.
  HttpAnswer answer(const HttpRequest& request) const;

 private:
  HttpAnswer answerWebApi(const HttpRequest& request) const;
  HttpAnswer answerUpload(const HttpRequest& request) const;
  HttpAnswer answerExport(const HttpRequest& request) const;

  const LoadedModule& module_;
  const std::string& root_;
  std::string uiFolder_;
  const std::string& token_;
};

// The 401 answer for a /webapi route without the right token.
HttpAnswer unauthorizedAnswer();

// An envelope as a JSON answer with the given HTTP status.
HttpAnswer envelopeAnswer(int status, const Json::Value& envelope);

// A host error envelope as an answer with the given HTTP status.
HttpAnswer hostErrorAnswer(int status, HostError code,
                           const std::string& particulars = std::string());

}  // namespace orva_host
