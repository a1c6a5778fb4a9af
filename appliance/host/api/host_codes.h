// Error codes the host answers by itself, in the same envelope as a module's
// own errors. They sit below the modules' range (900 and up) so that a client
// can tell a host refusal from a method's answer. Each code's text comes from
// one table (hostErrorText); an envelope may add the particulars after it.
#pragma once

namespace orva_host {

enum HostError : int {
  kBadRequest = 100,       // the HTTP body is not a request object
  kUnknownApi = 101,       // no row of the module's table has the API
  kUnknownMethod = 102,    // the API has no such method at that version
  kUnknownVersion = 103,   // the API has no such version
  kModuleException = 104,  // the entry function raised an exception (logged)
  kNoAnswer = 105,         // the entry function returned without answering (logged)
  kBodyTooLarge = 106,     // the HTTP body is larger than the host accepts
  kHostFailure = 107,      // the host itself failed while serving the request (logged)
  kFileTmpRefused = 108,   // a request over HTTP names "file_tmp": only the host sets it
  kBadExportName = 109,    // an export names a user or card that is not a plain name
  kExportMissing = 110,    // an exported card's file is missing after the export
  kUploadFailed = 111,     // the host cannot keep an uploaded file (logged)
  // The appliance's own routes (users, calendars, client set-up):
  kBadUserName = 112,      // a user or calendar name that is not a plain name
  kUserExists = 113,       // the user or calendar exists already
  kNoSuchUser = 114,       // no such user or calendar
  kPasswordRefused = 115,  // an empty or over-long password, or a hash the server cannot check
  kApplianceFailed = 116,  // the users file or the storage could not be changed (logged)
  kNotCalendar = 117,      // the collection is an address book, not a calendar
  // The books' histories:
  kNotKept = 118,        // not in the history: never there, or no longer kept
  kChangedSince = 119,   // changed since the page saw it: nothing was overwritten
  kStoreRefused = 120,   // the store's gate refuses what would be put back
  kHistoryFailed = 121,  // the book or its history cannot be written: nothing changed
};

// The text of code; "Host error" for a code the table lacks.
const char* hostErrorText(HostError code);

}  // namespace orva_host
