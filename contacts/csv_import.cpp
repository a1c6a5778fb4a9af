#include "contacts/csv_import.h"

#include <string_view>

#include "contacts/csv_card.h"
#include "contacts/csv_columns.h"
#include "contacts/csv_reader.h"
#include "vcard/card_reader.h"

namespace orva_contacts {

namespace {

// Outlook writes dates in its language's order: day first but in English.
bool writesDayFirst(const std::vector<std::string>& header) {
  for (std::string name : header) {
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name == "birthday" || name == "anniversary") return false;
  }
  return true;
}

// The header row and the layout for it; false when the file has no row.
bool readLayout(CsvReader& reader, const Json::Value& targets, CsvRow& header, CsvLayout& layout,
                CsvImport& result) {
  CsvReader::Status status;
  while ((status = reader.next(header)) == CsvReader::Status::kUnreadable) {
    ++result.unreadable;
    if (result.unreadableLines.size() < kListedRowLines) {
      result.unreadableLines.append(Json::UInt64(header.line));
    }
  }
  if (status == CsvReader::Status::kEnd) return false;
  if (targets.isNull()) {
    layout = layoutOfHeader(header.fields);
    if (layout.known.empty()) result.outcome = CsvImport::Outcome::kNeedsColumns;
  } else if (!layoutOfTargets(targets, header.fields.size(), layout, result.fault)) {
    result.outcome = CsvImport::Outcome::kBadTargets;
  }
  result.known = layout.known;
  if (result.outcome == CsvImport::Outcome::kRead && !layout.hasNameMailOrPhone()) {
    result.outcome = CsvImport::Outcome::kNoNameColumn;
  }
  return true;
}

void feedCard(const std::string& card, CardAssembler& assembler) {
  std::size_t start = 0;
  while (start < card.size()) {
    const std::size_t end = card.find("\r\n", start);
    assembler.addLine(std::string_view(card).substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace

CsvImport readCsvRows(int fd, const Json::Value& targets, CardAssembler& assembler) {
  CsvImport result;
  CsvReader reader(fd);
  CsvRow row;
  CsvLayout layout;
  if (!readLayout(reader, targets, row, layout, result) ||
      result.outcome != CsvImport::Outcome::kRead) {
    return result;
  }
  const bool dayFirst = writesDayFirst(row.fields);
  while (!assembler.stopped()) {
    const CsvReader::Status status = reader.next(row);
    if (status == CsvReader::Status::kEnd) break;
    // A row with more fields than the header has been cut wrongly: its
    // values would land in the wrong places.
    if (status == CsvReader::Status::kUnreadable || row.fields.size() > layout.columns.size()) {
      ++result.unreadable;
      if (result.unreadableLines.size() < kListedRowLines) {
        result.unreadableLines.append(Json::UInt64(row.line));
      }
      continue;
    }
    const std::string card = csvRowCard(layout, row.fields, dayFirst);
    if (!card.empty()) feedCard(card, assembler);
  }
  return result;
}

Json::Value previewCsvRows(int fd, const Json::Value& targets, std::size_t rows) {
  Json::Value preview(Json::objectValue);
  CsvImport result;
  CsvReader reader(fd);
  CsvRow row;
  CsvLayout layout;
  if (!readLayout(reader, targets, row, layout, result)) return preview;
  const bool dayFirst = writesDayFirst(row.fields);
  Json::Value& header = preview["header"] = Json::Value(Json::arrayValue);
  for (const std::string& name : row.fields) header.append(name);
  preview["known"] = layout.known;
  Json::Value& columns = preview["columns"] = Json::Value(Json::arrayValue);
  for (const CsvColumn& column : layout.columns) columns.append(targetOf(column));
  if (!result.fault.empty()) preview["fault"] = result.fault;
  Json::Value& sample = preview["rows"] = Json::Value(Json::arrayValue);
  Json::Value& cards = preview["cards"] = Json::Value(Json::arrayValue);
  while (sample.size() < rows) {
    const CsvReader::Status status = reader.next(row);
    if (status == CsvReader::Status::kEnd) break;
    if (status == CsvReader::Status::kUnreadable) continue;
    Json::Value fields(Json::arrayValue);
    for (const std::string& field : row.fields) fields.append(field);
    sample.append(fields);
    Json::Value labels(Json::objectValue);
    Json::Value record;
    const std::string card = csvRowCard(layout, row.fields, dayFirst);
    orva_vcard::readLabels(card, labels);
    orva_vcard::readCardText(card, labels, record);
    cards.append(record);
  }
  return preview;
}

}  // namespace orva_contacts
