// list_cards: every card of the user as a contact record, optionally only
// those that match a search key.
#include <utility>
#include <vector>

#include "module/request_params.h"
#include "module/webapi-ContactAndCalendar.h"

namespace {

// Copies a card text into the reusable buffer, NUL-terminated, for one pass
// to cut apart. A text that is not a string reads as empty.
char* freshCopy(const Json::Value& text, std::vector<char>& buffer) {
  const char* begin = nullptr;
  const char* end = nullptr;
  buffer.clear();
  if (text.getString(&begin, &end)) buffer.assign(begin, end);
  buffer.push_back('\0');
  return buffer.data();
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

}  // namespace

void ContactAndCalendarHandler::listCards() {
  if (!orva_params::requireParams(request, response, __LINE__, {"user"})) return;
  std::string userName;
  std::string searchKey;
  if (!orva_params::readStringParam(request, response, __LINE__, "user", userName)) return;
  if (!orva_params::readStringParam(request, response, __LINE__, "search_key", searchKey)) return;

  std::string guid = dbHandler.GetGUID(userName);
  if (guid.empty()) {
    dbHandler.SetupUserBasicInfo(userName);
    guid = dbHandler.GetGUID(userName);
  }

  Json::Value ids(Json::arrayValue);
  Json::Value texts(Json::arrayValue);
  const Json::ArrayIndex count = usableCount(dbHandler.GetCards(ids, texts, guid), ids, texts);

  Json::Value list(Json::arrayValue);
  Json::Value record;
  std::vector<char> buffer;
  for (Json::ArrayIndex i = 0; i < count; ++i) {
    // Labels belong to the card that defines them, never to the next one.
    labelTable.clear();
    ParseCardLabel(freshCopy(texts[i], buffer));
    ParseCardText(freshCopy(texts[i], buffer), record);
    record["id"] = idText(ids[i]);
    if (searchKey.empty() || isMatch(record, searchKey)) {
      list.append(std::move(record));
    }
    record = Json::Value();
  }

  Json::Value reply(Json::objectValue);
  reply["cards"] = std::move(list);
  response->SetSuccess(std::move(reply));
}
