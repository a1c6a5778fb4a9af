// The CSV reader, the header's layout and the dates, unit by unit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "contacts/csv_card.h"
#include "contacts/csv_columns.h"
#include "contacts/csv_reader.h"

namespace orva_contacts {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every row of bytes read through a pipe in small writes, with the line of
// each; an unreadable row shows as {"?"}.
Rows readAll(const std::string& bytes, std::vector<std::uint64_t>* lines = nullptr) {
  char path[] = "/tmp/csv-rows-XXXXXX";
  const int fd = ::mkstemp(path);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::lseek(fd, 0, SEEK_SET);
  ::unlink(path);
  CsvReader reader(fd);
  Rows rows;
  CsvRow row;
  for (CsvReader::Status status; (status = reader.next(row)) != CsvReader::Status::kEnd;) {
    rows.push_back(status == CsvReader::Status::kRow ? row.fields : std::vector<std::string>{"?"});
    if (lines) lines->push_back(row.line);
  }
  ::close(fd);
  return rows;
}

std::string utf16le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(CsvReader, ShapesOfFiles) {
  const struct {
    std::string bytes;
    Rows rows;
  } cases[] = {
      {"a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
      {"\xEF\xBB\xBF"
       "a;b\n1;\"x;y\"\n",
       {{"a", "b"}, {"1", "x;y"}}},
      {"a\tb\n\"q\"\"t\"\t\"two\r\nlines\"", {{"a", "b"}, {"q\"t", "two\nlines"}}},
      {"a,b\r\n\r\n1,\r\n", {{"a", "b"}, {"1", ""}}},
      {"a,b\r1,2\r", {{"a", "b"}, {"1", "2"}}},
      {"x,y\n\xE9t\xE9,caf\xE9\n", {{"x", "y"}, {"\xC3\xA9t\xC3\xA9", "caf\xC3\xA9"}}},
      {"x\n\x80\n", {{"x"}, {"\xE2\x82\xAC"}}},
      {utf16le("a,b\r\n1,\"2\"\r\n"), {{"a", "b"}, {"1", "2"}}},
      {"\xFE\xFF" + std::string("\0a\0,\0b\xD8\x3D\xDE\x00", 10), {{"a", "b\xF0\x9F\x98\x80"}}},
      {"a,b\n\"never closed,1\n", {{"a", "b"}, {"?"}}},
      {"a,b\n1,\"x\"y,2\n", {{"a", "b"}, {"1", "xy", "2"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(readAll(c.bytes), c.rows) << c.bytes;
}

TEST(CsvReader, LinesCountBreaksInsideQuotesAndLongRowsAreUnreadable) {
  std::vector<std::uint64_t> lines;
  const std::string longRow(kMaxCsvRowBytes + 10, 'x');
  const Rows rows = readAll("h\n\"a\nb\"\n" + longRow + "\nlast\n", &lines);
  EXPECT_EQ(rows, (Rows{{"h"}, {"a\nb"}, {"?"}, {"last"}}));
  EXPECT_EQ(lines, (std::vector<std::uint64_t>{1, 2, 4, 5}));
}

TEST(CsvColumns, KnownHeadersAndTargets) {
  const CsvLayout google = layoutOfHeader({"First Name", "Last Name", "E-mail 1 - Label",
                                           "E-mail 1 - Value", "Phone 3 - Value", "Labels"});
  EXPECT_EQ(google.known, "google");
  EXPECT_EQ(google.columns[2].slot, google.columns[3].slot);
  const CsvLayout french = layoutOfHeader({"Titre", "Prénom", "Nom", "Titre", "Tél. mobile"});
  EXPECT_EQ(french.known, "outlook");
  std::vector<std::string> targets;
  for (const CsvColumn& column : french.columns) targets.push_back(targetOf(column));
  EXPECT_EQ(targets, (std::vector<std::string>{"prefix", "given_name", "family_name", "title",
                                               "phone:cell"}));
  EXPECT_EQ(layoutOfHeader({"Name", "Email", "Phone"}).known, "");
  CsvLayout chosen;
  std::string fault;
  Json::Value names(Json::arrayValue);
  for (const char* name : {"street:home", "city:home", "note"}) names.append(name);
  ASSERT_TRUE(layoutOfTargets(names, 4, chosen, fault)) << fault;
  EXPECT_EQ(chosen.columns[0].slot, chosen.columns[1].slot);
  EXPECT_FALSE(chosen.hasNameMailOrPhone());
  names.append("note:work");
  EXPECT_FALSE(layoutOfTargets(names, 4, chosen, fault));
}

TEST(CsvCard, Dates) {
  const struct {
    const char* text;
    bool dayFirst;
    const char* date;
  } cases[] = {{"1990-02-01", false, "1990-02-01"},
               {"--02-01", false, "--02-01"},
               {"2/1/1990", false, "1990-02-01"},
               {"2/1/1990", true, "1990-01-02"},
               {"15.01.1965", true, "1965-01-15"},
               {"13/1/1990", false, "1990-01-13"},
               {"0/0/00", false, ""},
               {"soon", false, "soon"}};
  for (const auto& c : cases) EXPECT_EQ(csvDate(c.text, c.dayFirst), c.date) << c.text;
}

}  // namespace
}  // namespace orva_contacts
