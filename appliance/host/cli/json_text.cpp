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

namespace {

std::string jsoncppCompact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

inline bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// jsoncpp's quoting with emitUTF8: the seven short escapes, other control
// bytes as \u00xx, every other byte as it is.
void appendQuoted(std::string& out, const char* begin, const char* end) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (const char* p = begin; p != end; ++p) {
    // Plain runs go in whole; most texts hold nothing to escape.
    const char* plain = p;
    while (p != end && !needsEscape(static_cast<unsigned char>(*p))) ++p;
    out.append(plain, p);
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (c < 0x20) {
          out.append("\\u00");
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xf]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

bool hasAnyComment(const Json::Value& value) {
  return value.hasComment(Json::commentBefore) || value.hasComment(Json::commentAfterOnSameLine) ||
         value.hasComment(Json::commentAfter);
}

// The same text as jsoncppCompact, written straight into out: jsoncpp's
// writer copies every member name and looks each member up again, which
// dominates large replies. Numbers, booleans and null are left to jsoncpp.
// False on a value with comments, which only jsoncpp places right.
bool appendCompact(std::string& out, const Json::Value& value) {
  if (hasAnyComment(value)) return false;
  switch (value.type()) {
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!value.getString(&begin, &end)) {
        out.append(jsoncppCompact(value));
        return true;
      }
      appendQuoted(out, begin, end);
      return true;
    }
    case Json::arrayValue: {
      out.push_back('[');
      const Json::ArrayIndex size = value.size();
      for (Json::ArrayIndex i = 0; i < size; ++i) {
        if (i > 0) out.push_back(',');
        if (!appendCompact(out, value[i])) return false;
      }
      out.push_back(']');
      return true;
    }
    case Json::objectValue: {
      // Members come in key order, as jsoncpp writes them.
      out.push_back('{');
      bool first = true;
      const Json::Value::const_iterator last = value.end();
      for (Json::Value::const_iterator it = value.begin(); it != last; ++it) {
        if (!first) out.push_back(',');
        first = false;
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        appendQuoted(out, name, end);
        out.push_back(':');
        if (!appendCompact(out, *it)) return false;
      }
      out.push_back('}');
      return true;
    }
    default:
      out.append(jsoncppCompact(value));
      return true;
  }
}

}  // namespace

std::string compactJson(const Json::Value& value) {
  std::string out;
  if (appendCompact(out, value)) return out;
  return jsoncppCompact(value);
}

std::string envelopeJson(const Json::Value& envelope) {
  const bool success = envelope["success"].asBool();
  const char* key = success ? "data" : "error";
  return std::string("{\"success\":") + (success ? "true" : "false") + ",\"" + key +
         "\":" + compactJson(envelope[key]) + "}";
}

Json::Value hostErrorEnvelope(HostError code, const std::string& particulars) {
  std::string detail = hostErrorText(code);
  if (!particulars.empty()) detail += ": " + particulars;
  Json::Value error(Json::objectValue);
  error["code"] = static_cast<int>(code);
  error["detail"] = detail;
  Json::Value envelope(Json::objectValue);
  envelope["success"] = false;
  envelope["error"] = error;
  return envelope;
}

}  // namespace orva_host
