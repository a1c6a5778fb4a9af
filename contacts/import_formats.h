// The import's answers that depend on the file's kind: files it does not
// take, the CSV mapping step's preview and refusals, and the CSV counts.
#pragma once

#include <json/value.h>

#include <string>

#include "contacts/csv_import.h"
#include "contacts/import_file.h"
#include "platform/webapi.h"

namespace orva_contacts {

// The detail's start when a CSV file's columns must be chosen in the page.
constexpr const char* kChooseColumns = "choose what each CSV column holds";

// Answers, before anything is stored, and returns true: a file that is
// empty, a calendar or of no kind the import takes; and the preview of a
// CSV file ("preview": true, optionally with "csv_columns"). False when
// the import goes on.
bool answeredBeforeImport(ORVA::APIRequest* request, ORVA::APIResponse* response, int fd,
                          ImportFormat format);

// Reads the CSV file into assembler; answers and returns false when it is
// refused before anything is read (columns to choose, none for a name,
// e-mail or phone, targets that are not target names).
bool readCsvFile(ORVA::APIRequest* request, ORVA::APIResponse* response, int fd,
                 CardAssembler& assembler, CsvImport& csv);

// What the answer says of a CSV file: its columns and unreadable rows.
void addCsvCounts(const CsvImport& csv, Json::Value& data);
// The same as text, for an error's detail ("" for none).
std::string csvCountsText(const CsvImport& csv);

}  // namespace orva_contacts
