// Error codes the host answers by itself, in the same envelope as a module's
// own errors. They sit below the modules' range (900 and up) so that a client
// can tell a host refusal from a method's answer.
//
//   100  the HTTP body is not a request object ("api", "method", optional
//        "version" and "params")
//   101  no row of the module's table has the API
//   102  the API has no such method at that version
//   103  the API has no such version
//   104  the entry function raised an exception (logged)
//   105  the entry function returned without answering (logged)
//   106  the HTTP body is larger than the host accepts
#pragma once

namespace orva_host {

constexpr int kBadRequest = 100;
constexpr int kUnknownApi = 101;
constexpr int kUnknownMethod = 102;
constexpr int kUnknownVersion = 103;
constexpr int kModuleException = 104;
constexpr int kNoAnswer = 105;
constexpr int kBodyTooLarge = 106;

}  // namespace orva_host
