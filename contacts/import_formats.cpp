#include "contacts/import_formats.h"

#include "module/error_codes.h"

namespace orva_contacts {

namespace {

constexpr std::size_t kPreviewRows = 5;

void refuse(ORVA::APIResponse* response, const std::string& why) {
  response->SetError(orva_errors::kSetCard,
                     Json::Value(std::string(orva_errors::errorText(orva_errors::kSetCard)) + ": " +
                                 why + "; stored 0, skipped 0"));
}

}  // namespace

bool answeredBeforeImport(ORVA::APIRequest* request, ORVA::APIResponse* response, int fd,
                          ImportFormat format) {
  switch (format) {
    case ImportFormat::kEmpty:
      refuse(response, "the file is empty: nothing stored");
      return true;
    case ImportFormat::kICalendar:
      refuse(response,
             "the file is an iCalendar file (events or tasks): import it into a calendar");
      return true;
    case ImportFormat::kOther:
      refuse(response, std::string("the file is of no kind the import takes: ") + kExpectedFormats);
      return true;
    case ImportFormat::kVCard:
    case ImportFormat::kCsv:
      break;
  }
  if (!request->GetParam("preview", Json::Value(false)).asBool()) return false;
  if (format != ImportFormat::kCsv) {
    refuse(response, "only a CSV file has a preview");
    return true;
  }
  Json::Value preview =
      previewCsvRows(fd, request->GetParam("csv_columns", Json::Value()), kPreviewRows);
  preview["format"] = "csv";
  response->SetSuccess(std::move(preview));
  return true;
}

bool readCsvFile(ORVA::APIRequest* request, ORVA::APIResponse* response, int fd,
                 CardAssembler& assembler, CsvImport& csv) {
  csv = readCsvRows(fd, request->GetParam("csv_columns", Json::Value()), assembler);
  switch (csv.outcome) {
    case CsvImport::Outcome::kRead:
      return true;
    case CsvImport::Outcome::kNeedsColumns:
      refuse(response, std::string(kChooseColumns) +
                           ": the header is not that of a Google or Outlook export");
      return false;
    case CsvImport::Outcome::kNoNameColumn:
      refuse(response, "no CSV column holds a name, an e-mail address or a phone number");
      return false;
    case CsvImport::Outcome::kBadTargets:
      refuse(response, "csv_columns: " + csv.fault);
      return false;
  }
  return false;
}

void addCsvCounts(const CsvImport& csv, Json::Value& data) {
  data["csv_columns"] = csv.known.empty() ? "chosen" : csv.known;
  data["rows_unreadable"] = Json::UInt64(csv.unreadable);
  if (csv.unreadable > 0) data["rows_unreadable_lines"] = csv.unreadableLines;
}

std::string csvCountsText(const CsvImport& csv) {
  if (csv.unreadable == 0) return "";
  std::string text = ", " + std::to_string(csv.unreadable) + " CSV rows unreadable (lines";
  for (const Json::Value& line : csv.unreadableLines) text += " " + line.asString();
  if (csv.unreadable > csv.unreadableLines.size()) text += " ...";
  return text + ")";
}

}  // namespace orva_contacts
