#include <utility>

#include "appliance/base/utf8_text.h"
#include "platform/webapi.h"

namespace ORVA {

APIResponse::APIResponse() : answers_(0), success_(false), code_(0) {}

bool APIResponse::firstAnswer(const char* call) {
  if (++answers_ == 1) return true;
  ErrorLog("api_response", __LINE__, 0, "response answered twice (%s ignored)", call);
  return false;
}

void APIResponse::SetSuccess(const Json::Value& data) { SetSuccess(Json::Value(data)); }

void APIResponse::SetSuccess(Json::Value&& data) {
  if (!firstAnswer("SetSuccess")) return;
  success_ = true;
  data_ = std::move(data);
}

void APIResponse::SetError(int code, const Json::Value& detail) {
  if (!firstAnswer("SetError")) return;
  success_ = false;
  code_ = code;
  // The answer is JSON, whose texts are UTF-8 whatever the module quoted.
  detail_ = detail.isString() ? Json::Value(orva_text::validUtf8(detail.asString())) : detail;
}

bool APIResponse::IsAnswered() const { return answers_ > 0; }
bool APIResponse::IsSuccess() const { return answers_ > 0 && success_; }
const Json::Value& APIResponse::Data() const { return data_; }
int APIResponse::ErrorCode() const { return code_; }
const Json::Value& APIResponse::ErrorDetail() const { return detail_; }
int APIResponse::AnswerCount() const { return answers_; }

Json::Value APIResponse::Envelope() const {
  APIResponse copy(*this);
  return copy.TakeEnvelope();
}

Json::Value APIResponse::TakeEnvelope() {
  Json::Value envelope(Json::objectValue);
  envelope["success"] = IsSuccess();
  if (IsSuccess()) {
    envelope["data"] = std::move(data_);
  } else {
    Json::Value error(Json::objectValue);
    error["code"] = code_;
    error["detail"] = std::move(detail_);
    envelope["error"] = std::move(error);
  }
  data_ = Json::Value();
  detail_ = Json::Value();
  return envelope;
}

}  // namespace ORVA
