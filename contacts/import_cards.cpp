#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "contacts/import_dropped_lines.h"
#include "contacts/import_formats.h"
#include "contacts/import_index.h"
#include "contacts/vcard_file_reader.h"
#include "module/error_codes.h"
#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

namespace {

// Cards go to the store in batches, made durable together: a sync per card
// would bound the import by the disk's syncs. Bounded by count and bytes, so
// memory stays flat whatever the file's size.
constexpr std::size_t kBatchCards = 1000;
constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

class CardBatches {
 public:
  CardBatches(DBHandler& store, const std::string& guid) : store_(store), guid_(guid) {}

  // Takes a card; false once the store could not write (the import stops).
  bool add(const std::string& name, const std::string& text) {
    bytes_ += text.size();
    cards_.emplace_back(name, text);
    return cards_.size() < kBatchCards && bytes_ < kBatchBytes ? true : flush();
  }

  // Stores what is waiting; false when the store could not write a card.
  bool flush() {
    if (cards_.empty()) return !failed_;
    store_.AddCards(guid_, cards_, faults_);
    for (const DBHandler::CardFault fault : faults_) {
      if (fault == DBHandler::CardFault::kNone) {
        ++stored_;
      } else if (fault == DBHandler::CardFault::kTextRefused) {
        ++skipped_;
      } else {
        failed_ = true;
      }
    }
    cards_.clear();
    bytes_ = 0;
    return !failed_;
  }

  std::uint64_t stored() const { return stored_; }
  std::uint64_t skipped() const { return skipped_; }
  bool failed() const { return failed_; }

 private:
  DBHandler& store_;
  const std::string& guid_;
  std::vector<std::pair<std::string, std::string>> cards_;
  std::vector<DBHandler::CardFault> faults_;
  std::size_t bytes_ = 0;
  std::uint64_t stored_ = 0;
  std::uint64_t skipped_ = 0;
  bool failed_ = false;
};

// A line left out or mended: answered and logged with its card, never its
// value (a name can be as long as a line; its start is enough).
void noteLine(orva_contacts::DroppedLines& lines, const char* what, std::uint64_t card,
              const std::string& cardName, std::string_view name, std::string_view reason) {
  name = name.substr(0, 64);
  lines.add(card, cardName, name, reason);
  const std::string message = "import_cards: card " + std::to_string(card) + ": line " +
                              std::string(name) + " " + what + ": " + std::string(reason);
  orva_params::logError(__LINE__, message.c_str());
}

std::string importCounts(std::uint64_t stored, std::uint64_t skipped) {
  return "stored " + std::to_string(stored) + ", skipped " + std::to_string(skipped);
}

}  // namespace

void ContactAndCalendarHandler::importCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user", "file_tmp", "file"}))
    return;
  std::string user;
  std::string path;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", user)) return;
  if (!orva_params::readStringParam(request, response, __LINE__, "file_tmp", path)) return;
  // The books' histories name an import by its file, as the browser sent it.
  const Json::Value fileName = request->GetParam("file", Json::Value());
  dbHandler.SetChangeMaker("import of " +
                           (fileName.isString() ? fileName.asString() : std::string("a file")));

  // As list and add do: a user the store does not know yet is set up, so
  // that an import never answers success with nothing stored.
  std::string guid = dbHandler.GetGUID(user);
  if (guid.empty()) {
    dbHandler.SetupUserBasicInfo(user);
    guid = dbHandler.GetGUID(user);
  }
  if (guid.empty()) {
    // A name the store refuses (see SetupUserBasicInfo): nothing is read.
    response->SetError(orva_errors::kSetCard,
                       Json::Value(std::string(orva_errors::errorText(orva_errors::kSetCard)) +
                                   ": the store cannot set up the user; " + importCounts(0, 0)));
    return;
  }

  // The kind of file is told by its content; one the import does not take is
  // refused before anything is stored.
  orva_contacts::ImportFile file(path);
  const orva_contacts::ImportFormat format = orva_contacts::importFormatOf(file.fd());
  if (file.fd() >= 0 && orva_contacts::answeredBeforeImport(request, response, file.fd(), format))
    return;

  // Cards go to the store in batches; a card the store refuses is skipped,
  // a store that cannot write stops the import. The answer comes only after
  // the last batch is durable.
  CardBatches batches(dbHandler, guid);
  // What the book holds already: a card equal to one of these, or one that
  // came from a source UID imported before, is not stored again.
  orva_contacts::ImportIndex index(dbHandler, guid);
  const orva_contacts::CardAssembler* reading = nullptr;
  // Cards of the file finished so far, whether stored or not.
  std::uint64_t cardsRead = 0;
  orva_contacts::DroppedLines dropped;
  orva_contacts::DroppedLines repaired("repaired_lines", "repaired");
  orva_contacts::CardAssembler assembler(
      [this] { return dbHandler.GetUUID(); },
      [&batches, &index, &reading, &cardsRead](const std::string& name, const std::string& text) {
        ++cardsRead;
        if (!index.isNew(text, reading->sourceUid())) return true;
        index.stored(name, text, reading->sourceUid());
        return batches.add(name, text);
      },
      [&cardsRead, &dropped, &reading](std::string_view name, std::string_view reason) {
        noteLine(dropped, "dropped", cardsRead + 1, reading->cardName(), name, reason);
      },
      orva_contacts::kMaxCardBytes,
      [&cardsRead, &repaired, &reading](std::string_view name, std::string_view reason) {
        noteLine(repaired, "repaired", cardsRead + 1, reading->cardName(), name, reason);
      });
  reading = &assembler;
  orva_contacts::CsvImport csv;
  const bool isCsv = format == orva_contacts::ImportFormat::kCsv;
  if (isCsv && !orva_contacts::readCsvFile(request, response, file.fd(), assembler, csv)) return;
  const bool opened = isCsv || orva_contacts::readVCardFile(path, assembler);
  batches.flush();
  if (batches.stored() > 0) index.keepSources();
  const bool storeFailed = batches.failed();
  const std::uint64_t stored = batches.stored();
  const std::uint64_t skipped = batches.skipped();

  if (storeFailed || (stored == 0 && index.duplicates() == 0 && index.candidates().empty())) {
    // The counts say how much of the file is in the book; the cards stored
    // before a failure stay stored.
    std::string detail = std::string(orva_errors::errorText(orva_errors::kSetCard)) + ": ";
    if (storeFailed) {
      detail += "the store could not write a card; ";
    } else if (!opened) {
      detail += "the file cannot be read; ";
    }
    detail += importCounts(stored, skipped) + orva_contacts::csvCountsText(csv);
    response->SetError(orva_errors::kSetCard, Json::Value(detail));
    return;
  }
  Json::Value data(Json::objectValue);
  data["stored"] = Json::Value::UInt64(stored);
  data["skipped"] = Json::Value::UInt64(skipped);
  data["duplicates"] = Json::Value::UInt64(index.duplicates());
  if (!index.candidates().empty()) data["update_candidates"] = index.candidates();
  dropped.addTo(data);
  repaired.addTo(data);
  if (isCsv) orva_contacts::addCsvCounts(csv, data);
  response->SetSuccess(data);
}
