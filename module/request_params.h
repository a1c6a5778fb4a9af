// Parameter checks and error answers shared by every method. Each takes the
// caller's source line, which goes into the log line.
#pragma once

#include <json/value.h>

#include <initializer_list>
#include <string>

#include "module/error_codes.h"
#include "platform/webapi.h"

namespace orva_params {

// The source name that every log line of the module carries.
constexpr const char* kLogSource = "webapi-ContactAndCalendar";

// Answers code with the table's text for it as the detail. Every error answer
// of the module goes through here.
void answerError(ORVA::APIResponse* response, orva_errors::Code code);
// The same with more said after the text: "<text>: <more>".
void answerError(ORVA::APIResponse* response, orva_errors::Code code, const std::string& more);

// Writes message to ErrorLog at level 1. The message is never taken as a
// printf format: one that holds a '%' is passed through "%s".
void logError(int line, const char* message);

// Logs the table's text for code, then answers code with it.
void answerLoggedError(ORVA::APIResponse* response, int line, orva_errors::Code code);

// Tests the names in order; at the first one missing, logs and answers 900
// and returns false. True when all are present.
bool requireParams(ORVA::APIRequest* request, ORVA::APIResponse* response, int line,
                   std::initializer_list<const char*> names);

// Reads a parameter (null when absent) as a string into out. When jsoncpp
// cannot convert it (an array or an object), logs "check type of NAME(string)",
// answers 901 and returns false.
bool readStringParam(ORVA::APIRequest* request, ORVA::APIResponse* response, int line,
                     const char* name, std::string& out);

// Answers 901 "Incorrect parameter: Need " after logging logMessage.
void answerIncorrectParameter(ORVA::APIResponse* response, int line, const char* logMessage);

// Writes "<source>:<line> Can't find [<user>]'s ID" to syslog at LOG_ERR.
void logUnknownUser(int line, const std::string& userName);

}  // namespace orva_params
