#include "platform/contact_store.h"

struct DBHandler::Impl {};

DBHandler::DBHandler() : impl_(new Impl) {}
DBHandler::~DBHandler() = default;
std::string DBHandler::GetGUID(std::string) { return std::string(); }
void DBHandler::SetupUserBasicInfo(std::string) {}
std::string DBHandler::GetUUID() { return std::string(); }
int DBHandler::GetCards(Json::Value&, Json::Value&, std::string) { return 0; }
bool DBHandler::AddCard(std::string, std::string, std::string) { return false; }
bool DBHandler::UpdateCard(std::string, std::string, std::string) { return false; }
bool DBHandler::DelCard(std::string, std::string) { return false; }
bool DBHandler::ExportData(std::string, std::string) { return false; }
