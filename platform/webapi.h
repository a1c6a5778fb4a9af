// The web-API host's interface, as the module sees it: the request, the
// response, the error log and the row type of a module's method table.
// The host (liborvawebapi.so) provides the bodies.
#pragma once

#include <json/value.h>

#include <string>

namespace ORVA {

// One request's parameters, a JSON object by parameter name.
class APIRequest {
 public:
  APIRequest();
  explicit APIRequest(const Json::Value& params);

  // True when the request carries the parameter (a JSON null counts as carried).
  bool HasParam(const std::string& name) const;
  // The parameter's value, or defaultValue when the request lacks it.
  Json::Value GetParam(const std::string& name, const Json::Value& defaultValue) const;
  // All parameters (the host's own view).
  const Json::Value& Params() const;

 private:
  Json::Value params_;
};

// One request's answer: success with data, or an error code with a detail.
// Exactly one answer is kept: the first. A later SetSuccess or SetError is a
// programming error; it is counted (AnswerCount() > 1) and logged, and changes
// nothing.
class APIResponse {
 public:
  APIResponse();

  // The data's member keys and texts may be Json::StaticString pointing into
  // the module's static memory: the host keeps the module loaded until the
  // answer has been written and dropped.
  void SetSuccess(const Json::Value& data = Json::Value());
  // As above, taking the data over instead of copying it (large replies).
  void SetSuccess(Json::Value&& data);
  void SetError(int code, const Json::Value& detail = Json::Value());

  bool IsAnswered() const;
  bool IsSuccess() const;
  const Json::Value& Data() const;
  int ErrorCode() const;
  const Json::Value& ErrorDetail() const;
  int AnswerCount() const;

  // The host's envelope: {"success":true,"data":...} or
  // {"success":false,"error":{"code":...,"detail":...}}.
  Json::Value Envelope() const;
  // The same envelope, with the data or error detail moved into it rather
  // than copied; Data() and ErrorDetail() read null afterwards.
  Json::Value TakeEnvelope();

 private:
  // Counts an answer; true for the first, which is the one kept.
  bool firstAnswer(const char* call);

  int answers_;
  bool success_;
  Json::Value data_;
  int code_;
  Json::Value detail_;
};

}  // namespace ORVA

// One row of a module's method table. A row whose four fields are all zero
// ends the table.
struct APITableEntry {
  const char* api;
  int version;
  const char* method;
  void (*handler)(ORVA::APIRequest*, ORVA::APIResponse*);
};

// Appends one line to the host's error log (var/log/webapi.log under the
// appliance root): source file, source line, level and the printf-style
// message. Returns 0 when the line was written, -1 if not.
extern "C" int ErrorLog(const char* file, int line, int level, const char* format, ...);
