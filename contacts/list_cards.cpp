// list_cards: every card of the user as a contact record, optionally only
// those that match a search key.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"
#include "vcard/card_reader.h"

namespace {

// Member keys in the module's own memory, which jsoncpp neither copies nor
// frees: the host keeps the module loaded until the answer is written.
const Json::StaticString kCards("cards");
const Json::StaticString kId("id");
const Json::StaticString kEtag("etag");
const Json::StaticString kTotal("total");

// Cards are independent, so a large book is read on every core. Below this
// many cards a worker costs more than it saves.
constexpr std::size_t kCardsPerWorker = 256;
// Workers take cards in runs of this many, so that a run of large cards does
// not leave the others idle at the end.
constexpr std::size_t kCardsPerRun = 32;

// A card text as the reader's passes take it: up to its first NUL, as a C
// string would end. A text that is not a string reads as empty.
std::string_view cardTextOf(const Json::Value& text) {
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!text.getString(&begin, &end) || begin == nullptr) return std::string_view();
  const void* nul = std::memchr(begin, '\0', static_cast<std::size_t>(end - begin));
  if (nul != nullptr) end = static_cast<const char*>(nul);
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

std::string versionOf(const Json::Value& text) {
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!text.getString(&begin, &end) || begin == nullptr) return DBHandler::VersionOf("", 0);
  return DBHandler::VersionOf(begin, static_cast<std::size_t>(end - begin));
}

std::string idText(const Json::Value& id) {
  return id.isConvertibleTo(Json::stringValue) ? id.asString() : std::string();
}

// The number of cards both arrays really hold: a negative count or one past
// what the store filled must not be read.
Json::ArrayIndex usableCount(int count, const Json::Value& ids, const Json::Value& texts) {
  if (count <= 0 || !ids.isArray() || !texts.isArray()) return 0;
  Json::ArrayIndex n = static_cast<Json::ArrayIndex>(count);
  if (ids.size() < n) n = ids.size();
  if (texts.size() < n) n = texts.size();
  return n;
}

// Pointers to the first count elements of array (of at least that size), in
// index order. An array with an element at every index, as the store gives
// them, is walked; any other is looked up index by index (a lookup costs
// as much as reading a small card's line).
template <typename Pointer>
void elementPointers(Json::Value& array, Json::ArrayIndex count, std::vector<Pointer>& pointers) {
  pointers.reserve(count);
  const Json::Value::iterator last = array.end();
  Json::ArrayIndex held = 0;
  for (Json::Value::iterator it = array.begin(); it != last; ++it) ++held;
  if (held == array.size()) {
    for (Json::Value::iterator it = array.begin(); pointers.size() < count; ++it) {
      pointers.push_back(&*it);
    }
    return;
  }
  for (Json::ArrayIndex i = 0; i < count; ++i) pointers.push_back(&array[i]);
}

// The cards of one listing and the records made of them, slot by slot in the
// store's order. Workers share nothing but the next run to take; each slot is
// written by the one worker that took it.
struct Listing {
  std::vector<const Json::Value*> ids;
  std::vector<Json::Value*> texts;
  std::vector<Json::Value> records;
  std::vector<char> kept;
  std::atomic<std::size_t> nextRun{0};
  std::mutex failureLock;
  std::exception_ptr failure;

  Listing(Json::Value& idArray, Json::Value& textArray, Json::ArrayIndex count)
      : records(count), kept(count, 0) {
    // Pointers taken up front: the workers never look anything up in the
    // shared arrays.
    elementPointers(idArray, count, ids);
    elementPointers(textArray, count, texts);
  }

  void fail(std::exception_ptr error) {
    const std::lock_guard<std::mutex> guard(failureLock);
    if (!failure) failure = error;
    nextRun = records.size();  // the others stop at their next run
  }
};

// Reads the first count cards of ids and texts into records on every core
// and gives back, in the store's order, those for which keep is true.
template <typename Keep>
std::vector<Json::Value> readRecords(Json::Value& ids, Json::Value& texts, Json::ArrayIndex count,
                                     const Keep& keep) {
  Listing listing(ids, texts, count);
  // One worker: its own label table; the passes keep their scanning state
  // in their own calls and read the store's text where it lies.
  const auto readCards = [&listing, &keep, count]() {
    try {
      Json::Value labelTable;
      for (;;) {
        const std::size_t first = listing.nextRun.fetch_add(kCardsPerRun);
        if (first >= count) break;
        const std::size_t last = std::min<std::size_t>(count, first + kCardsPerRun);
        for (std::size_t i = first; i < last; ++i) {
          Json::Value& record = listing.records[i];
          Json::Value& text = *listing.texts[i];
          const std::string_view cardText = cardTextOf(text);
          // The version of the bytes as stored, which edit_card checks.
          const std::string version = versionOf(text);
          // Labels belong to the card that defines them, never to the next one.
          labelTable.clear();
          orva_vcard::readLabels(cardText, labelTable);
          orva_vcard::readCardText(cardText, labelTable, record);
          text = Json::Value();  // read for good: its memory goes back now
          record[kId] = idText(*listing.ids[i]);
          record[kEtag] = version;
          listing.kept[i] = keep(record);
          if (!listing.kept[i]) record = Json::Value();
        }
      }
    } catch (...) {
      listing.fail(std::current_exception());
    }
  };
  const std::size_t cores = std::max(1U, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(cores, 1 + count / kCardsPerWorker);
  std::vector<std::thread> helpers;
  // Room first: once a thread runs, nothing here may throw before the joins.
  helpers.reserve(workers);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      helpers.emplace_back(readCards);
    } catch (const std::system_error&) {
      break;  // no thread to be had: fewer hands do the same work
    }
  }
  readCards();
  for (std::thread& helper : helpers) helper.join();
  if (listing.failure) std::rethrow_exception(listing.failure);

  std::vector<Json::Value> kept;
  for (Json::ArrayIndex i = 0; i < count; ++i) {
    if (listing.kept[i]) kept.push_back(std::move(listing.records[i]));
  }
  return kept;
}

// The listing's optional window: "offset" and "limit", each a non-negative
// integer when given.
struct Window {
  bool given = false;
  std::size_t offset = 0;
  std::size_t limit = std::numeric_limits<std::size_t>::max();
};

bool readWindowParam(ORVA::APIRequest* request, ORVA::APIResponse* response, const char* name,
                     const char* logMessage, Window& window, std::size_t& out) {
  const Json::Value value = request->GetParam(name, Json::Value());
  if (value.isNull()) return true;
  if (!value.isNumeric() || !value.isIntegral() || value.asLargestInt() < 0) {
    orva_params::answerIncorrectParameter(response, __LINE__, logMessage);
    return false;
  }
  window.given = true;
  out = static_cast<std::size_t>(value.asLargestUInt());
  return true;
}

// Cards read at a time while a search walks a book in windows: memory then
// follows this, not the book.
constexpr int kSearchChunk = 2000;

}  // namespace

void ContactAndCalendarHandler::listCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user"})) return;
  std::string userName;
  std::string searchKey;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", userName)) return;
  if (!orva_params::readStringParam(request, response, __LINE__, "search_key", searchKey)) return;
  Window window;
  if (!readWindowParam(request, response, "offset", "check type of offset(integer >= 0)", window,
                       window.offset) ||
      !readWindowParam(request, response, "limit", "check type of limit(integer >= 0)", window,
                       window.limit)) {
    return;
  }

  std::string guid = dbHandler.GetGUID(userName);
  if (guid.empty()) {
    dbHandler.SetupUserBasicInfo(userName);
    guid = dbHandler.GetGUID(userName);
  }
  const auto matches = [this, &searchKey](const Json::Value& record) {
    return searchKey.empty() || isMatch(record, searchKey);
  };

  Json::Value list(Json::arrayValue);
  Json::Value reply(Json::objectValue);
  if (!window.given) {
    // The whole book at once, as callers without a window have it.
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    const Json::ArrayIndex count = usableCount(dbHandler.GetCards(ids, texts, guid), ids, texts);
    for (Json::Value& record : readRecords(ids, texts, count, matches)) {
      list.append(std::move(record));
    }
  } else if (searchKey.empty()) {
    // Only the window's cards are read.
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    const int offset = static_cast<int>(std::min<std::size_t>(window.offset, INT_MAX));
    const int limit = static_cast<int>(std::min<std::size_t>(window.limit, INT_MAX));
    const int total = dbHandler.GetCardWindow(ids, texts, guid, offset, limit);
    const Json::ArrayIndex count = usableCount(static_cast<int>(ids.size()), ids, texts);
    for (Json::Value& record : readRecords(ids, texts, count, matches)) {
      list.append(std::move(record));
    }
    reply[kTotal] = std::max(total, 0);
  } else {
    // A search reads the whole book, a chunk at a time, and keeps the
    // matches that fall in the window.
    std::size_t matched = 0;
    for (int position = 0;; position += kSearchChunk) {
      Json::Value ids(Json::arrayValue);
      Json::Value texts(Json::arrayValue);
      const int total = dbHandler.GetCardWindow(ids, texts, guid, position, kSearchChunk);
      const Json::ArrayIndex count = usableCount(static_cast<int>(ids.size()), ids, texts);
      for (Json::Value& record : readRecords(ids, texts, count, matches)) {
        if (matched >= window.offset && list.size() < window.limit) list.append(std::move(record));
        ++matched;
      }
      if (total - position <= kSearchChunk) break;
    }
    reply[kTotal] = static_cast<Json::Int64>(matched);
  }
  reply[kCards] = std::move(list);
  response->SetSuccess(std::move(reply));
}
