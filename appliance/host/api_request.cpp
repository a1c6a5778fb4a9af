#include "platform/webapi.h"

namespace ORVA {

APIRequest::APIRequest() : params_(Json::objectValue) {}

APIRequest::APIRequest(const Json::Value& params)
    : params_(params.isObject() ? params : Json::Value(Json::objectValue)) {}

bool APIRequest::HasParam(const std::string& name) const { return params_.isMember(name); }

Json::Value APIRequest::GetParam(const std::string& name, const Json::Value& defaultValue) const {
  const Json::Value* found = params_.find(name.data(), name.data() + name.size());
  return found != nullptr ? *found : defaultValue;
}

const Json::Value& APIRequest::Params() const { return params_; }

}  // namespace ORVA
