// One row of a CSV address book as a vCard 3.0 card, by the columns' layout.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "contacts/csv_columns.h"

namespace orva_contacts {

// The card text from "BEGIN:VCARD" to "END:VCARD", CR LF ended, without
// UID or VERSION (the import gives both); "" when no column of the layout
// holds a value. Values are escaped as vCard text; control characters go.
// FN is the full name, else the name's parts, else the company, the first
// e-mail address or phone. dayFirst reads an ambiguous "1/2/1990" as the 1st
// of February (Outlook writes dates in its language's order).
std::string csvRowCard(const CsvLayout& layout, const std::vector<std::string>& fields,
                       bool dayFirst);

// A date as Google and Outlook write it ("1990-02-01", "--02-01", "2/1/1990",
// "01.02.1990") as "YYYY-MM-DD" (or "--MM-DD"); "" for Outlook's empty date
// "0/0/00"; the text itself when it is no date.
std::string csvDate(std::string_view text, bool dayFirst);

}  // namespace orva_contacts
