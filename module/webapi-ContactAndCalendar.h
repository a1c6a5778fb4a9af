// The per-request handler: every method of both APIs runs on one of these,
// built on the entry function's stack and destroyed when the method returns.
#pragma once

#include <json/value.h>

#include <string>

#include "platform/conf_manager.h"
#include "platform/contact_store.h"
#include "platform/webapi.h"

class ContactAndCalendarHandler {
 public:
  ContactAndCalendarHandler(ORVA::APIRequest* request, ORVA::APIResponse* response,
                            std::string methodName);
  ~ContactAndCalendarHandler();
  ContactAndCalendarHandler(const ContactAndCalendarHandler&) = delete;
  ContactAndCalendarHandler& operator=(const ContactAndCalendarHandler&) = delete;

  // ORVA.ContactAndCalendar.Common (settings/)
  void getCommonSetting();
  void setCommonSetting();

  // ORVA.ContactAndCalendar.Contacts (contacts/)
  void listCards();
  bool isMatch(const Json::Value& record, const std::string& key);
  void addCard();
  void editCard();
  void deleteCards();
  void exportCards();
  void importCards();

  // vCard reader (vcard/). Each pass cuts its buffer apart in place, so each
  // needs its own copy of the card text.
  void ParseCardLabel(char* cardText);
  void ParseCardText(char* cardText, Json::Value& record);
  void setEmptyInfo(Json::Value& record);
  void ParseInfoName(char* text, Json::Value& record);
  void ParseInfoTEL(char* line, Json::Value& record);
  void ParseInfoEMAIL(char* line, Json::Value& record);
  void ParseInfoURL(char* line, Json::Value& record);
  void ParseInfoADR(char* line, Json::Value& record);

  // vCard writer (vcard/).
  std::string setCardContent(Json::Value record);
  std::string formulateStr(const char* text);

 private:
  ORVA::APIRequest* request;
  ORVA::APIResponse* response;
  std::string methodName;
  ConfManager confManager;
  DBHandler dbHandler;
  Json::Value labelTable;
};
