#include "appliance/host/api/host_codes.h"

namespace orva_host {

namespace {

struct Row {
  HostError code;
  const char* text;
};

constexpr Row kTable[] = {
    {kBadRequest, "Bad request"},
    {kUnknownApi, "Unknown API"},
    {kUnknownMethod, "Unknown method"},
    {kUnknownVersion, "Unknown version"},
    {kModuleException, "Module raised an exception"},
    {kNoAnswer, "Module gave no answer"},
    {kBodyTooLarge, "Request body too large"},
    {kHostFailure, "Internal host error"},
    {kFileTmpRefused, "\"file_tmp\" is set by the host only, from an uploaded file"},
    {kBadExportName, "Not a plain name"},
    {kExportMissing, "Exported card missing"},
    {kUploadFailed, "Cannot keep the uploaded file"},
    {kBadUserName, "Not a plain name"},
    {kUserExists, "Already exists"},
    {kNoSuchUser, "No such user or calendar"},
    {kPasswordRefused, "Password refused"},
    {kApplianceFailed, "The server's users or storage could not be changed"},
    {kNotCalendar, "Not a calendar"},
    {kNotKept, "Not in the history (never there, or no longer kept)"},
    {kChangedSince, "Changed since it was shown; nothing was overwritten"},
    {kStoreRefused, "The store refuses it"},
    {kHistoryFailed, "The book or its history cannot be written; nothing changed"},
};

}  // namespace

const char* hostErrorText(HostError code) {
  for (const Row& row : kTable) {
    if (row.code == code) return row.text;
  }
  return "Host error";
}

}  // namespace orva_host
