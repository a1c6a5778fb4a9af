// What each column of a CSV address book holds. Google Contacts' and
// Outlook's exports are known by their headers (Outlook's in several
// languages); any other file's columns are named by the person importing it,
// with the same target names the page offers:
//   full_name given_name middle_name family_name prefix suffix nickname
//   company department title birthday anniversary note categories
//   email phone url                   each column one entry
//   street extended pobox city region postcode country address
//                                     parts of one address per type
// Entries and addresses take vCard types after a ':' ("phone:work,fax",
// "street:home"); "" leaves a column out.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace orva_contacts {

enum class CsvField {
  kIgnore,
  kFullName,
  kGivenName,
  kMiddleName,
  kFamilyName,
  kPrefix,
  kSuffix,
  kNickname,
  kCompany,
  kDepartment,
  kTitle,
  kBirthday,
  kAnniversary,
  kNote,
  kCategories,
  kEmail,
  kPhone,
  kUrl,
  kStreet,
  kExtended,
  kPoBox,
  kCity,
  kRegion,
  kPostcode,
  kCountry,
  kAddress,  // a whole address in one text
  kLabel,    // the type of its slot's entries, as Google writes it ("* Home")
};

struct CsvColumn {
  CsvField field = CsvField::kIgnore;
  std::string types;  // vCard TYPE values, upper case, ',' between
  int slot = -1;      // columns of one entry or address share it
};

struct CsvLayout {
  std::vector<CsvColumn> columns;
  // "google" or "outlook" when the header is one of theirs; "" otherwise.
  std::string known;
  // True when some column maps to a name, an e-mail address or a phone.
  bool hasNameMailOrPhone() const;
};

// The layout a header gives: every column whose name is known (known sets
// first, then common names such as "E-mail" or "Phone", as a guess).
CsvLayout layoutOfHeader(const std::vector<std::string>& header);

// The layout the page chose: one target name per column (fewer: the rest
// are left out). False, with the reason, for a name that is not a target.
bool layoutOfTargets(const Json::Value& targets, std::size_t columns, CsvLayout& layout,
                     std::string& fault);

// The target name of a column, as layoutOfTargets reads it ("" for none).
std::string targetOf(const CsvColumn& column);

}  // namespace orva_contacts
