// A CSV address book read into cards: the header decides what each column
// holds (or the page's choice of targets does), and every row becomes one
// card handed to the same assembler as a vCard file's cards.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

#include "contacts/vcard_file_reader.h"

namespace orva_contacts {

// Line numbers of unreadable rows listed in an answer; the count says the rest.
constexpr std::size_t kListedRowLines = 100;

struct CsvImport {
  enum class Outcome {
    kRead,          // every row was read (cards went to the assembler)
    kNeedsColumns,  // a header of no known export and no targets given: nothing read
    kNoNameColumn,  // no column maps to a name, e-mail or phone: nothing read
    kBadTargets,    // the targets given are not a list of target names
  };
  Outcome outcome = Outcome::kRead;
  std::string fault;  // what is wrong, for kBadTargets
  std::string known;  // "google", "outlook" or "" (the page's targets)
  std::uint64_t unreadable = 0;
  Json::Value unreadableLines{Json::arrayValue};  // the first kListedRowLines
};

// Reads the CSV file open at fd (see ImportFile) row by row into assembler.
// targets: null to go by the header, else one target name per column
// (csv_columns.h).
CsvImport readCsvRows(int fd, const Json::Value& targets, CardAssembler& assembler);

// Nothing stored: the header, the layout it gives (or targets give) as
// target names, and the first rows with their cards as contact records, for
// the page's mapping step. {"header", "known", "columns", "rows", "cards"}.
Json::Value previewCsvRows(int fd, const Json::Value& targets, std::size_t rows);

}  // namespace orva_contacts
