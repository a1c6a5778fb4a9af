#include "appliance/host/routes/client_setup_routes.h"

#include <qrencode.h>
#include <sys/utsname.h>

#include <algorithm>
#include <memory>

#include "appliance/base/appliance_root.h"
#include "appliance/host/accounts/password_file.h"
#include "appliance/host/accounts/user_collections.h"
#include "appliance/host/api/dispatch.h"
#include "appliance/host/api/json_text.h"
#include "appliance/host/routes/client_hosts.h"
#include "appliance/host/routes/client_profile.h"
#include "appliance/host/tls/server_certificate.h"

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
  if (!host.empty() && !isPlainHostName(host)) {
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

// The server's certificate and the one phones are told to trust: the
// appliance's authority when it signed the certificate, else a self-signed
// certificate itself (an administrator's own), else none.
struct Trust {
  bool hasCertificate = false;
  CertificateFacts certificate;
  bool hasAuthority = false;
  CertificateFacts authority;
};

Trust readTrust(const std::string& root, const Settings& settings) {
  Trust trust;
  if (!settings.ssl) return trust;
  trust.hasCertificate =
      readCertificate(orva_root::pathUnder(root, kCertificateFile), trust.certificate);
  trust.hasAuthority =
      trust.hasCertificate &&
      readCertificate(orva_root::pathUnder(root, kAuthorityFile), trust.authority) &&
      isSignedBy(trust.certificate.der, trust.authority.der);
  return trust;
}

Json::Value texts(const std::vector<std::string>& list) {
  Json::Value out(Json::arrayValue);
  for (const std::string& text : list) out.append(text);
  return out;
}

Json::Value certificateData(const Trust& trust) {
  if (!trust.hasCertificate) return Json::Value();
  Json::Value certificate(Json::objectValue);
  certificate["sha256"] = trust.certificate.sha256;
  certificate["not_after"] = trust.certificate.notAfter;
  certificate["self_signed"] = trust.certificate.selfSigned;
  certificate["names"] = texts(trust.certificate.names);
  certificate["authority"] = Json::Value();
  if (trust.hasAuthority) {
    Json::Value authority(Json::objectValue);
    authority["sha256"] = trust.authority.sha256;
    authority["not_after"] = trust.authority.notAfter;
    authority["permitted"] = texts(trust.authority.permitted);
    certificate["authority"] = authority;
  }
  return certificate;
}

// The host phones use: the one asked for, else the remembered one, else the
// machine's first name or address.
std::string chosenHost(const std::string& root, const std::string& asked,
                       const std::vector<HostChoice>& hosts) {
  if (!asked.empty()) return asked;
  const std::string remembered = rememberedHost(root);
  if (!remembered.empty()) return remembered;
  return hosts.empty() ? machineName() : hosts.front().host;
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
  const Trust trust = readTrust(context.root, settings);
  const std::vector<HostChoice> hosts = machineHosts(trust.certificate.names);
  host = chosenHost(context.root, host, hosts);
  const std::string segment = percentEncoded(user);
  const std::string calendar = percentEncoded(calendarOf(user));
  Json::Value data(Json::objectValue);
  data["user"] = user;
  data["host"] = host;
  data["remembered"] = rememberedHost(context.root);
  data["hosts"] = Json::arrayValue;
  for (const HostChoice& choice : hosts) {
    Json::Value entry(Json::objectValue);
    entry["host"] = choice.host;
    entry["address"] = choice.address;
    entry["in_certificate"] = choice.inCertificate;
    data["hosts"].append(entry);
  }
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
  data["certificate"] = certificateData(trust);
  const auto& names = trust.certificate.names;
  data["host_in_certificate"] =
      trust.hasCertificate && std::find(names.begin(), names.end(), host) != names.end();
  return dataAnswer(data);
}

HttpAnswer hostChoiceRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  std::string host;
  if (!onlyKeys(request, {"host"}, refusal) || !textMember(request, "host", false, host, refusal)) {
    return refusal;
  }
  if (!host.empty() && !isPlainHostName(host)) {
    return refusalAnswer(400, kBadRequest, "not a host name or address: " + host);
  }
  if (!rememberHost(context.root, host)) {
    return refusalAnswer(500, kHostFailure, "the chosen host cannot be stored");
  }
  Json::Value data(Json::objectValue);
  data["remembered"] = host;
  return dataAnswer(data);
}

HttpAnswer authorityRoute(const RouteContext& context, const Json::Value& request) {
  HttpAnswer refusal;
  if (!onlyKeys(request, {}, refusal)) return refusal;
  CertificateFacts authority;
  if (!readCertificate(orva_root::pathUnder(context.root, kAuthorityFile), authority)) {
    return refusalAnswer(
        404, kBadRequest,
        "there is no certificate authority yet (it is made when SSL is turned on)");
  }
  HttpAnswer answer;
  answer.contentType = "application/x-x509-ca-cert";
  answer.headers = {{"Content-Disposition", "attachment; filename=\"appliance-ca.crt\""},
                    {"Cache-Control", "no-store"}};
  answer.body = authority.der;
  return answer;
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
  const Trust trust = readTrust(context.root, settings);
  ProfileSettings profile;
  profile.user = user;
  profile.host = chosenHost(context.root, host, machineHosts(trust.certificate.names));
  profile.ssl = settings.ssl;
  profile.port = settings.ssl ? settings.https : settings.http;
  if (trust.hasAuthority) {
    profile.trustedDer = trust.authority.der;
    profile.trustedIsAuthority = true;
  } else if (trust.hasCertificate && trust.certificate.selfSigned) {
    profile.trustedDer = trust.certificate.der;
  }
  HttpAnswer answer;
  answer.contentType = "application/x-apple-aspen-config";
  answer.headers = {{"Content-Disposition", profileDisposition(user, profile.host)},
                    {"Cache-Control", "no-store"}};
  answer.body = mobileConfig(profile);
  return answer;
}

}  // namespace orva_host
