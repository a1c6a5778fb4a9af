// DBHandler: the contact store's calls. Each call takes the store lock for
// its own length; folder fsyncs of the handle's writes are gathered and done
// when the handle is destroyed, before the request is answered.
#include <json/json.h>

#include <set>
#include <sstream>
#include <string>

#include "appliance/base/atomic_batch.h"
#include "appliance/base/file_io.h"
#include "appliance/history/kept_write.h"
#include "appliance/store/book_reader.h"
#include "appliance/store/cache_warmer.h"
#include "appliance/store/card_check.h"
#include "appliance/store/card_version.h"
#include "appliance/store/store_files.h"
#include "appliance/store/store_layout.h"
#include "appliance/store/store_lock.h"
#include "appliance/store/store_log.h"
#include "appliance/store/store_uuid.h"
#include "appliance/store/user_map.h"
#include "platform/contact_store.h"

using orva_store::StoreLock;

struct DBHandler::Impl {
  orva_store::FolderSync sync;
  // Folders this handle already cleared of stale temporaries.
  std::set<std::string> cleared;
  // The last book read in windows, its names in order.
  orva_store::BookNames bookNames;
  // Why the last card write was refused (LastCardFault).
  using Fault = DBHandler::CardFault;
  Fault lastFault = Fault::kNone;
  // Users whose books gained cards through AddCards: their server cache is
  // warmed when the handle ends, after every batch is durable.
  std::set<std::string> warm;
  // Every write of this handle is one change in the books' histories.
  const std::string change = orva_store::randomUuid();
  std::string maker = "administration page";

  orva_history::KeptWrite keptWrite(const std::string& user) const {
    return orva_history::KeptWrite(user, orva_store::kBookName, change, maker);
  }

  ~Impl() {
    sync.flush();
    for (const std::string& user : warm) orva_store::warmServerCache(user);
  }

  Outcome refusedFor(Fault fault) {
    lastFault = fault;
    return Outcome::kRefused;
  }

  // With the lock held: the card's file path, "" when the GUID is unknown
  // or the resource name is not one the store accepts.
  std::string cardPath(const std::string& guid, const std::string& resourceName,
                       std::string* user = nullptr) const {
    if (!orva_store::isSafeName(resourceName)) return "";
    const std::string owner = orva_store::userOfGuid(guid);
    if (owner.empty()) return "";
    // A planted link in place of a folder of the book is never followed.
    if (!orva_store::hasNoLinks(orva_store::bookDir(owner))) return "";
    if (user != nullptr) *user = owner;
    return orva_store::bookDir(owner) + "/" + resourceName;
  }

  // With the lock held: whether the card at path still has the expected
  // version (always, when none is expected). current gets the version found,
  // "" when the card does not exist.
  static bool hasVersion(const std::string& path, const std::string* expected,
                         std::string& current) {
    if (expected == nullptr) return true;
    std::string text;
    current = orva_store::isRegularFile(path) && orva_store::readWholeFile(path, text)
                  ? orva_store::cardVersion(text)
                  : "";
    return !current.empty() && current == *expected;
  }

  // AddCard (the name must be free) and UpdateCard (the card must exist),
  // the latter only while the card has the expected version when one is given.
  Outcome storeCard(const char* operation, bool mustExist, const std::string& guid,
                    const std::string& resourceName, const std::string& text,
                    const std::string* expected = nullptr, std::string* current = nullptr) {
    // The text check reads only the text: done before the lock, so that
    // other writers (and a running CardDAV server) wait less.
    const std::string refusal = orva_store::cardTextRefusal(text);
    StoreLock lock(StoreLock::kExclusive);
    if (!lock.held()) return refusedFor(Fault::kNotWritten);
    std::string user;
    const std::string path = cardPath(guid, resourceName, &user);
    if (path.empty()) return refusedFor(Fault::kNameRefused);
    std::string found;
    if (!hasVersion(path, expected, found)) {
      if (current != nullptr) *current = found;
      return Outcome::kChanged;
    }
    if (!refusal.empty()) {
      orva_store::logRefusal(operation, user, resourceName, refusal);
      return refusedFor(Fault::kTextRefused);
    }
    if (mustExist ? !orva_store::isRegularFile(path) : orva_store::entryExists(path)) {
      return refusedFor(Fault::kNameRefused);
    }
    const std::string book = orva_store::bookDir(user);
    // A CardDAV client may have deleted the whole book; a new card brings it back.
    if (!mustExist && !orva_store::entryExists(book + "/" + orva_store::kPropsFileName) &&
        !orva_store::setupUser(user, sync)) {
      return refusedFor(Fault::kNotWritten);
    }
    orva_store::clearStaleTemps(book, cleared);
    // Kept before it lands: a history that cannot be written refuses it.
    orva_history::KeptWrite kept = keptWrite(user);
    kept.put(resourceName, text);
    if (!kept.keep(sync)) return refusedFor(Fault::kNotWritten);
    if (!orva_store::writeFileAtomic(book, resourceName, text, sync)) {
      kept.cancel();
      return refusedFor(Fault::kNotWritten);
    }
    kept.seal();
    lastFault = Fault::kNone;
    return Outcome::kDone;
  }

  // AddCards: the texts checked before the lock, then every card written,
  // synced and named under one exclusive hold.
  void addCards(const std::string& guid,
                const std::vector<std::pair<std::string, std::string>>& cards,
                std::vector<Fault>& faults) {
    faults.assign(cards.size(), Fault::kNotWritten);
    std::vector<std::string> refusals;
    refusals.reserve(cards.size());
    for (const auto& card : cards) refusals.push_back(orva_store::cardTextRefusal(card.second));
    StoreLock lock(StoreLock::kExclusive);
    if (!lock.held() || cards.empty()) return;
    std::string user;
    if (cardPath(guid, cards.front().first, &user).empty()) {
      faults.front() = Fault::kNameRefused;
      return;
    }
    const std::string book = orva_store::bookDir(user);
    if (!orva_store::entryExists(book + "/" + orva_store::kPropsFileName) &&
        !orva_store::setupUser(user, sync)) {
      return;
    }
    orva_store::clearStaleTemps(book, cleared);
    orva_file::AtomicBatch batch(book, 0600);
    std::vector<std::size_t> written;  // indexes of cards in the batch
    for (std::size_t i = 0; i < cards.size(); ++i) {
      if (!refusals[i].empty()) {
        orva_store::logRefusal("AddCards", user, cards[i].first, refusals[i]);
        faults[i] = Fault::kTextRefused;
        continue;
      }
      const std::string path = cardPath(guid, cards[i].first);
      if (path.empty() || orva_store::entryExists(path)) {
        faults[i] = Fault::kNameRefused;
        break;
      }
      if (!batch.add(cards[i].first, cards[i].second)) break;
      written.push_back(i);
    }
    orva_history::KeptWrite kept = keptWrite(user);
    for (const std::size_t i : written) kept.put(cards[i].first, cards[i].second);
    if (!written.empty() && !kept.keep(sync)) {
      for (const std::size_t i : written) faults[i] = Fault::kNotWritten;
      return;
    }
    const std::size_t placed = batch.commit();
    kept.sealFirst(placed);
    for (std::size_t n = 0; n < placed; ++n) faults[written[n]] = Fault::kNone;
    if (placed > 0) warm.insert(user);
  }

  // DelCard, only while the card has the expected version when one is given.
  Outcome deleteCard(const std::string& guid, const std::string& resourceName,
                     const std::string* expected = nullptr, std::string* current = nullptr) {
    StoreLock lock(StoreLock::kExclusive);
    if (!lock.held()) return Outcome::kRefused;
    std::string user;
    const std::string path = cardPath(guid, resourceName, &user);
    if (path.empty()) return Outcome::kRefused;
    std::string found;
    if (!hasVersion(path, expected, found)) {
      if (current != nullptr) *current = found;
      return Outcome::kChanged;
    }
    std::string text;
    if (!orva_store::isRegularFile(path) || !orva_store::readWholeFile(path, text)) {
      return Outcome::kRefused;
    }
    // The deleted bytes are kept, so that the trash gives them back exactly.
    orva_history::KeptWrite kept = keptWrite(user);
    kept.remove(resourceName, text);
    if (!kept.keep(sync)) return Outcome::kRefused;
    if (!orva_store::removeFile(path, sync)) {
      kept.cancel();
      return Outcome::kRefused;
    }
    kept.seal();
    // No copy of a deleted card stays behind in the export folder.
    const std::string dir = orva_store::exportDir(user);
    const std::string copy = dir + "/" + resourceName + ".vcf";
    if (orva_store::hasNoLinks(dir) && orva_store::entryExists(copy)) {
      orva_store::removeFile(copy, sync);
    }
    return Outcome::kDone;
  }
};

using Outcome = DBHandler::Outcome;

DBHandler::DBHandler() : impl_(new Impl) {}

DBHandler::~DBHandler() = default;

std::string DBHandler::GetGUID(std::string userName) {
  try {
    if (!orva_store::isSafeUserName(userName)) return "";
    StoreLock lock(StoreLock::kShared);
    return lock.held() ? orva_store::guidOfUser(userName) : "";
  } catch (...) {
    return "";
  }
}

void DBHandler::SetupUserBasicInfo(std::string userName) {
  try {
    if (!orva_store::isSafeUserName(userName)) return;
    if (!orva_store::ensureDirs(orva_store::collectionsDir(), impl_->sync)) return;
    StoreLock lock(StoreLock::kExclusive);
    // The book's history begins with the book.
    if (lock.held() && orva_store::setupUser(userName, impl_->sync)) {
      orva_history::openHistory(userName, orva_store::kBookName, impl_->sync);
    }
  } catch (...) {
  }
}

std::string DBHandler::GetUUID() {
  try {
    return orva_store::randomUuid();
  } catch (...) {
    return "";
  }
}

int DBHandler::GetCards(Json::Value& ids, Json::Value& texts, std::string guid) {
  try {
    const auto appendable = [](const Json::Value& v) { return v.isNull() || v.isArray(); };
    if (!appendable(ids) || !appendable(texts)) return 0;
    StoreLock lock(StoreLock::kShared);
    if (!lock.held()) return 0;
    const std::string user = orva_store::userOfGuid(guid);
    if (user.empty() || !orva_store::hasNoLinks(orva_store::bookDir(user))) return 0;
    return orva_store::readBook(orva_store::bookDir(user), ids, texts);
  } catch (...) {
    return 0;
  }
}

int DBHandler::GetCardWindow(Json::Value& ids, Json::Value& texts, std::string guid, int offset,
                             int limit) {
  try {
    const auto appendable = [](const Json::Value& v) { return v.isNull() || v.isArray(); };
    if (!appendable(ids) || !appendable(texts) || offset < 0) return 0;
    StoreLock lock(StoreLock::kShared);
    if (!lock.held()) return 0;
    const std::string user = orva_store::userOfGuid(guid);
    if (user.empty() || !orva_store::hasNoLinks(orva_store::bookDir(user))) return 0;
    const std::size_t window =
        limit < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(limit);
    return orva_store::readBookWindow(orva_store::bookDir(user), static_cast<std::size_t>(offset),
                                      window, ids, texts, &impl_->bookNames);
  } catch (...) {
    return 0;
  }
}

bool DBHandler::AddCard(std::string guid, std::string resourceName, std::string vcardText) {
  try {
    return impl_->storeCard("AddCard", false, guid, resourceName, vcardText) == Outcome::kDone;
  } catch (...) {
    // Out of memory or the like: nothing about the card itself.
    impl_->lastFault = CardFault::kNotWritten;
    return false;
  }
}

bool DBHandler::UpdateCard(std::string guid, std::string resourceName, std::string vcardText) {
  try {
    return impl_->storeCard("UpdateCard", true, guid, resourceName, vcardText) == Outcome::kDone;
  } catch (...) {
    impl_->lastFault = CardFault::kNotWritten;
    return false;
  }
}

bool DBHandler::DelCard(std::string guid, std::string resourceName) {
  try {
    return impl_->deleteCard(guid, resourceName) == Outcome::kDone;
  } catch (...) {
    return false;
  }
}

bool DBHandler::ExportData(std::string guid, std::string resourceName) {
  try {
    // Exclusive: the call writes, even though not into the collections.
    StoreLock lock(StoreLock::kExclusive);
    if (!lock.held()) return false;
    std::string user;
    const std::string path = impl_->cardPath(guid, resourceName, &user);
    std::string text;
    if (path.empty() || !orva_store::readWholeFile(path, text)) return false;
    const std::string dir = orva_store::exportDir(user);
    if (!orva_store::ensureDirs(dir, impl_->sync)) return false;
    orva_store::clearStaleTemps(dir, impl_->cleared);
    // An export is read back and downloaded at once: a sync per card would
    // bound it by the disk's syncs and keep nothing more safe.
    return orva_store::writeCopyAtomic(dir, resourceName + ".vcf", text);
  } catch (...) {
    return false;
  }
}

std::string DBHandler::VersionOf(const std::string& vcardText) {
  return VersionOf(vcardText.data(), vcardText.size());
}

std::string DBHandler::VersionOf(const char* vcardText, std::size_t size) {
  try {
    return orva_store::cardVersion(std::string_view(vcardText, size));
  } catch (...) {
    return "";
  }
}

bool DBHandler::GetCard(std::string guid, std::string resourceName, std::string& vcardText,
                        std::string& version) {
  try {
    StoreLock lock(StoreLock::kShared);
    if (!lock.held()) return false;
    const std::string path = impl_->cardPath(guid, resourceName);
    std::string text;
    if (path.empty() || !orva_store::isRegularFile(path) ||
        !orva_store::readWholeFile(path, text)) {
      return false;
    }
    version = orva_store::cardVersion(text);
    vcardText = std::move(text);
    return true;
  } catch (...) {
    return false;
  }
}

Outcome DBHandler::UpdateCardIfVersion(std::string guid, std::string resourceName,
                                       std::string vcardText, std::string expectedVersion,
                                       std::string& version) {
  try {
    return impl_->storeCard("UpdateCard", true, guid, resourceName, vcardText, &expectedVersion,
                            &version);
  } catch (...) {
    return Outcome::kRefused;
  }
}

Outcome DBHandler::DelCardIfVersion(std::string guid, std::string resourceName,
                                    std::string expectedVersion, std::string& version) {
  try {
    return impl_->deleteCard(guid, resourceName, &expectedVersion, &version);
  } catch (...) {
    return Outcome::kRefused;
  }
}

DBHandler::CardFault DBHandler::LastCardFault() const { return impl_->lastFault; }

void DBHandler::SetChangeMaker(std::string maker) {
  try {
    impl_->maker = std::move(maker);
  } catch (...) {
  }
}

namespace {

// Beside the cards, as dot files the CardDAV server leaves alone: an object
// of them all (as earlier imports wrote it), and one line of JSON per call
// of AddImportSources after it, appended, so that an import of any size adds
// its sources a batch at a time. A line cut short by a crash is skipped.
constexpr const char* kImportSourcesFile = ".orva-import-sources.json";
constexpr const char* kImportSourcesLines = ".orva-import-sources.jsonl";

void addParsed(const std::string& text, Json::Value& sources) {
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream stream(text);
  Json::Value parsed;
  if (!Json::parseFromStream(builder, stream, &parsed, &errors) || !parsed.isObject()) return;
  for (auto it = parsed.begin(); it != parsed.end(); ++it) {
    if (it->isString()) sources[it.name()] = *it;
  }
}

Json::Value readImportSources(const std::string& book) {
  std::string text;
  Json::Value sources(Json::objectValue);
  const std::string path = book + "/" + kImportSourcesFile;
  if (orva_store::entryExists(path) && orva_store::readWholeFile(path, text)) {
    addParsed(text, sources);
  }
  const std::string lines = book + "/" + kImportSourcesLines;
  if (orva_store::entryExists(lines) && orva_store::readWholeFile(lines, text)) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      addParsed(text.substr(start, end - start), sources);
    }
  }
  return sources;
}

}  // namespace

bool DBHandler::GetImportSources(std::string guid, Json::Value& sources) {
  try {
    StoreLock lock(StoreLock::kShared);
    if (!lock.held()) return false;
    const std::string user = orva_store::userOfGuid(guid);
    if (user.empty() || !orva_store::hasNoLinks(orva_store::bookDir(user))) return false;
    sources = readImportSources(orva_store::bookDir(user));
    return true;
  } catch (...) {
    return false;
  }
}

bool DBHandler::AddImportSources(std::string guid, const Json::Value& sources) {
  try {
    if (!sources.isObject()) return false;
    StoreLock lock(StoreLock::kExclusive);
    if (!lock.held()) return false;
    const std::string user = orva_store::userOfGuid(guid);
    if (user.empty() || !orva_store::hasNoLinks(orva_store::bookDir(user))) return false;
    if (sources.empty()) return true;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // The writer escapes every control character: the line stays one line.
    return orva_file::appendLine(orva_store::bookDir(user) + "/" + kImportSourcesLines,
                                 Json::writeString(builder, sources));
  } catch (...) {
    return false;
  }
}

void DBHandler::AddCards(std::string guid,
                         const std::vector<std::pair<std::string, std::string>>& cards,
                         std::vector<CardFault>& faults) {
  try {
    impl_->addCards(guid, cards, faults);
  } catch (...) {
    // Out of memory or the like: what was not committed is not stored.
    faults.assign(cards.size(), CardFault::kNotWritten);
  }
}
