#include "appliance/host/cli/json_text.h"

#include <json/json.h>

#include <exception>
#include <memory>

namespace orva_host {

bool parseStrictJson(const std::string& text, Json::Value& value, std::string& error) {
  Json::CharReaderBuilder builder;
  // strictMode() would also demand an array or object at the top; a parameter
  // may be a bare number, string, boolean or null.
  builder["allowComments"] = false;
  builder["allowTrailingCommas"] = false;
  builder["strictRoot"] = false;
  builder["allowDroppedNullPlaceholders"] = false;
  builder["allowNumericKeys"] = false;
  builder["allowSingleQuotes"] = false;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  builder["allowSpecialFloats"] = false;
  builder["skipBom"] = false;
  builder["stackLimit"] = 256;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value parsed;
  std::string errors;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    error = "empty JSON text";
    return false;
  }
  bool parsedOk = false;
  try {
    parsedOk = reader->parse(text.data(), text.data() + text.size(), &parsed, &errors);
  } catch (const std::exception& e) {
    // jsoncpp throws, rather than fails, past its nesting limit.
    errors = e.what();
  }
  if (!parsedOk) {
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
    error = errors.empty() ? "not JSON" : errors;
    return false;
  }
  value = std::move(parsed);
  return true;
}

std::string compactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

std::string envelopeJson(const Json::Value& envelope) {
  const bool success = envelope["success"].asBool();
  const char* key = success ? "data" : "error";
  return std::string("{\"success\":") + (success ? "true" : "false") + ",\"" + key +
         "\":" + compactJson(envelope[key]) + "}";
}

Json::Value hostErrorEnvelope(int code, const std::string& detail) {
  Json::Value error(Json::objectValue);
  error["code"] = code;
  error["detail"] = detail;
  Json::Value envelope(Json::objectValue);
  envelope["success"] = false;
  envelope["error"] = error;
  return envelope;
}

}  // namespace orva_host
