#include "appliance/host/routes/client_setup_routes.h"

#include <openssl/evp.h>
#include <qrencode.h>
#include <sys/utsname.h>

#include <cctype>
#include <memory>
#include <random>

#include "appliance/base/appliance_root.h"
#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/accounts/password_file.h"
#include "appliance/host/tls/server_certificate.h"
#include "appliance/host/accounts/user_collections.h"

namespace orva_host {

namespace {

// The server's settings as "get" answers them, so that the addresses are
// those the server runs with.
struct Settings {
  bool ssl = false;
  bool redirect = false;
  int http = 0;
  int https = 0;
};

bool readSettings(const LoadedModule& module, Settings& settings, HttpAnswer& refusal) {
  const DispatchResult result =
      dispatchRequest(module, "ORVA.ContactAndCalendar.Common", 1, "get", Json::objectValue);
  const Json::Value& common = result.envelope["data"]["common"];
  if (!result.success || !common.isObject()) {
    // The module's own refusal, as /webapi would answer it.
    refusal = dataAnswer(Json::Value());
    refusal.body = envelopeJson(result.envelope) + "\n";
    return false;
  }
  settings.ssl = common["EnableSSL"].asBool();
  settings.redirect = settings.ssl && common["RedirectHTTPToHTTPS"].asBool();
  settings.http = common["HTTPPort"].asInt();
  settings.https = common["SSLPort"].asInt();
  return true;
}

std::string machineName() {
  utsname name{};
  return ::uname(&name) == 0 && isPlainHostName(name.nodename) ? name.nodename : "localhost";
}

bool userAndHost(const Json::Value& request, std::string& user, std::string& host,
                 HttpAnswer& refusal) {
  if (!onlyKeys(request, {"user", "host"}, refusal) ||
      !textMember(request, "user", true, user, refusal) ||
      !textMember(request, "host", false, host, refusal)) {
    return false;
  }
  if (!isPlainUserName(user)) {
    refusal = refusalAnswer(400, kBadUserName, "user " + user);
    return false;
  }
  if (host.empty()) host = machineName();
  if (!isPlainHostName(host)) {
    refusal = refusalAnswer(400, kBadRequest, "not a host name or address: " + host);
    return false;
  }
  return true;
}

std::string urlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// The server's base addresses, the preferred first: HTTPS when SSL is on,
// and HTTP only when it serves (not redirected).
std::vector<std::string> bases(const Settings& settings, const std::string& host) {
  std::vector<std::string> out;
  if (settings.ssl)
    out.push_back("https://" + urlHost(host) + ":" + std::to_string(settings.https));
  if (!settings.redirect)
    out.push_back("http://" + urlHost(host) + ":" + std::to_string(settings.http));
  return out;
}

// The user's first calendar, the default one's name when there is none yet.
std::string calendarOf(const std::string& user) {
  for (const Collection& collection : userCollections(user)) {
    if (collection.kind == "calendar") return collection.name;
  }
  return kDefaultCalendar;
}

std::string percentEncoded(const std::string& segment) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : segment) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string randomUuid() {
  std::random_device random;
  unsigned char bytes[16];
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string base64(const std::string& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int size = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                   reinterpret_cast<const unsigned char*>(data.data()),
                                   static_cast<int>(data.size()));
  out.resize(static_cast<size_t>(size));
  return out;
}

std::string key(const std::string& name, const std::string& value) {
  return "\t\t\t<key>" + name + "</key>\n\t\t\t<string>" + xmlEscaped(value) + "</string>\n";
}

std::string flagKey(const std::string& name, bool value) {
  return "\t\t\t<key>" + name + "</key>\n\t\t\t<" + (value ? "true" : "false") + "/>\n";
}

std::string intKey(const std::string& name, int value) {
  return "\t\t\t<key>" + name + "</key>\n\t\t\t<integer>" + std::to_string(value) + "</integer>\n";
}

// One account payload (kind "CardDAV" or "CalDAV").
std::string accountPayload(const std::string& kind, const std::string& identifier,
                           const Settings& settings, const std::string& host,
                           const std::string& user) {
  const bool secure = settings.ssl;
  std::string text = "\t\t<dict>\n";
  text += key(kind + "AccountDescription",
              (kind == "CardDAV" ? "Contacts of " : "Calendar of ") + user + " on " + host);
  text += key(kind + "HostName", host);
  text += intKey(kind + "Port", secure ? settings.https : settings.http);
  text += key(kind + "PrincipalURL", "/" + percentEncoded(user) + "/");
  text += flagKey(kind + "UseSSL", secure);
  text += key(kind + "Username", user);
  text += key("PayloadDisplayName", kind + " account");
  text += key("PayloadIdentifier", identifier + "." + (kind == "CardDAV" ? "carddav" : "caldav"));
  text += key("PayloadType",
              kind == "CardDAV" ? "com.apple.carddav.account" : "com.apple.caldav.account");
  text += key("PayloadUUID", randomUuid());
  text += intKey("PayloadVersion", 1);
  return text + "\t\t</dict>\n";
}

// The self-signed certificate, so that the phone can be told to trust it.
std::string certificatePayload(const std::string& identifier, const CertificateFacts& facts) {
  std::string text = "\t\t<dict>\n";
  text += key("PayloadCertificateFileName", "server.crt");
  text += "\t\t\t<key>PayloadContent</key>\n\t\t\t<data>" + base64(facts.der) + "</data>\n";
  text += key("PayloadDisplayName", "Server certificate");
  text += key("PayloadIdentifier", identifier + ".certificate");
  text += key("PayloadType", "com.apple.security.root");
  text += key("PayloadUUID", randomUuid());
  text += intKey("PayloadVersion", 1);
  return text + "\t\t</dict>\n";
}

}  // namespace

bool isPlainHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  const bool ipv6 = host.find(':') != std::string::npos;
  for (const char c : host) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (ipv6 ? !(hex || c == ':' || c == '.') : !(letter || hex || c == '.' || c == '-')) {
      return false;
    }
  }
  return host.front() != '-' && host.front() != '.';
}

HttpAnswer connectionRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, host;
  Settings settings;
  if (!userAndHost(request, user, host, refusal) ||
      !readSettings(context.module, settings, refusal)) {
    return refusal;
  }
  const std::string segment = percentEncoded(user);
  const std::string calendar = percentEncoded(calendarOf(user));
  Json::Value data(Json::objectValue);
  data["user"] = user;
  data["host"] = host;
  data["ssl"] = settings.ssl;
  data["redirect"] = settings.redirect;
  data["server"] = Json::arrayValue;
  data["carddav"] = Json::arrayValue;
  data["caldav"] = Json::arrayValue;
  for (const std::string& base : bases(settings, host)) {
    data["server"].append(base + "/");
    data["carddav"].append(base + "/" + segment + "/contacts/");
    data["caldav"].append(base + "/" + segment + "/" + calendar + "/");
  }
  data["certificate"] = Json::nullValue;
  CertificateFacts facts;
  if (settings.ssl &&
      readCertificate(orva_root::pathUnder(context.root, kCertificateFile), facts)) {
    Json::Value certificate(Json::objectValue);
    certificate["sha256"] = facts.sha256;
    certificate["not_after"] = facts.notAfter;
    certificate["self_signed"] = facts.selfSigned;
    certificate["names"] = Json::arrayValue;
    for (const std::string& name : facts.names) certificate["names"].append(name);
    data["certificate"] = certificate;
  }
  return dataAnswer(data);
}

HttpAnswer qrCodeRoute(const RouteContext&, const Json::Value& request) {
  HttpAnswer refusal;
  std::string text;
  if (!onlyKeys(request, {"text"}, refusal) || !textMember(request, "text", true, text, refusal)) {
    return refusal;
  }
  if (text.empty() || text.size() > 1000 || text.find('\0') != std::string::npos) {
    return refusalAnswer(400, kBadRequest, "a QR code holds 1 to 1000 bytes of text");
  }
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), QRcode_free);
  if (!code) return refusalAnswer(500, kHostFailure, "no QR code could be made");
  Json::Value rows(Json::arrayValue);
  for (int y = 0; y < code->width; ++y) {
    std::string row;
    for (int x = 0; x < code->width; ++x) row += (code->data[y * code->width + x] & 1) ? '1' : '0';
    rows.append(row);
  }
  Json::Value data(Json::objectValue);
  data["size"] = code->width;
  data["rows"] = rows;
  return dataAnswer(data);
}

HttpAnswer profileRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string user, host;
  Settings settings;
  if (!userAndHost(request, user, host, refusal) ||
      !readSettings(context.module, settings, refusal)) {
    return refusal;
  }
  // One identifier per server and user: installing it again replaces it.
  std::string identifier = "local.orva.";
  for (const char c : host + "." + user) {
    identifier += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '-';
  }
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>PayloadContent</key>\n\t<array>\n";
  text += accountPayload("CardDAV", identifier, settings, host, user);
  text += accountPayload("CalDAV", identifier, settings, host, user);
  CertificateFacts facts;
  if (settings.ssl &&
      readCertificate(orva_root::pathUnder(context.root, kCertificateFile), facts) &&
      facts.selfSigned) {
    text += certificatePayload(identifier, facts);
  }
  text += "\t</array>\n";
  auto topKey = [&](const std::string& name, const std::string& value) {
    text += "\t<key>" + name + "</key>\n\t<string>" + xmlEscaped(value) + "</string>\n";
  };
  topKey("PayloadDescription", "Contacts and calendar of " + user +
                                   " (the password is asked for "
                                   "when the profile is installed)");
  topKey("PayloadDisplayName", "Contacts and calendar of " + user + " on " + host);
  topKey("PayloadIdentifier", identifier);
  topKey("PayloadType", "Configuration");
  topKey("PayloadUUID", randomUuid());
  text += "\t<key>PayloadVersion</key>\n\t<integer>1</integer>\n</dict>\n</plist>\n";

  HttpAnswer answer;
  answer.contentType = "application/x-apple-aspen-config";
  answer.headers = {{"Content-Disposition", "attachment; filename=\"" + percentEncoded(user) + "-" +
                                                percentEncoded(host) + ".mobileconfig\""},
                    {"Cache-Control", "no-store"}};
  answer.body = text;
  return answer;
}

}  // namespace orva_host
