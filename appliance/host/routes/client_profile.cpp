#include "appliance/host/routes/client_profile.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstdio>

namespace orva_host {

namespace {

bool isUnreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string sha256(const std::string& text) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string hex(const std::string& bytes) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

// The ASCII letters and digits of text, others as '-'.
std::string readable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    out += plain ? c : '-';
  }
  return out;
}

// A UUID made from seed: the same seed, the same UUID.
std::string stableUuid(const std::string& seed) {
  std::string bytes = sha256(seed).substr(0, 16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x50);
  bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80);
  std::string text = hex(bytes);
  for (const size_t at : {20u, 16u, 12u, 8u}) text.insert(at, "-");
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
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
                           const ProfileSettings& settings) {
  const std::string id = identifier + (kind == "CardDAV" ? ".carddav" : ".caldav");
  std::string text = "\t\t<dict>\n";
  text += key(kind + "AccountDescription", (kind == "CardDAV" ? "Contacts of " : "Calendar of ") +
                                               settings.user + " on " + settings.host);
  text += key(kind + "HostName", settings.host);
  text += intKey(kind + "Port", settings.port);
  text += key(kind + "PrincipalURL", "/" + percentEncoded(settings.user) + "/");
  text += flagKey(kind + "UseSSL", settings.ssl);
  text += key(kind + "Username", settings.user);
  text += key("PayloadDisplayName", kind + " account");
  text += key("PayloadIdentifier", id);
  text += key("PayloadType",
              kind == "CardDAV" ? "com.apple.carddav.account" : "com.apple.caldav.account");
  text += key("PayloadUUID", stableUuid(id));
  text += intKey("PayloadVersion", 1);
  return text + "\t\t</dict>\n";
}

std::string certificatePayload(const std::string& identifier, const ProfileSettings& settings) {
  const std::string id = identifier + ".certificate";
  std::string text = "\t\t<dict>\n";
  text += key("PayloadCertificateFileName", settings.trustedIsAuthority ? "ca.crt" : "server.crt");
  text +=
      "\t\t\t<key>PayloadContent</key>\n\t\t\t<data>" + base64(settings.trustedDer) + "</data>\n";
  text += key("PayloadDisplayName", settings.trustedIsAuthority
                                        ? "Certificate authority of " + settings.host
                                        : "Server certificate");
  text += key("PayloadIdentifier", id);
  text += key("PayloadType", "com.apple.security.root");
  text += key("PayloadUUID", stableUuid(id + "\n" + hex(sha256(settings.trustedDer))));
  text += intKey("PayloadVersion", 1);
  return text + "\t\t</dict>\n";
}

}  // namespace

std::string percentEncoded(const std::string& segment) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : segment) {
    const auto u = static_cast<unsigned char>(c);
    if (isUnreserved(c)) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string profileIdentifier(const std::string& user, const std::string& host) {
  return "local.orva." + readable(host) + "." + readable(user) + "." +
         hex(sha256(host + '\0' + user)).substr(0, 16);
}

std::string profileDisposition(const std::string& user, const std::string& host) {
  std::string plain;
  for (const char c : user + "-" + host) plain += isUnreserved(c) && c != '~' ? c : '_';
  return "attachment; filename=\"" + plain + ".mobileconfig\"; filename*=UTF-8''" +
         percentEncoded(user + "-" + host) + ".mobileconfig";
}

std::string mobileConfig(const ProfileSettings& settings) {
  const std::string identifier = profileIdentifier(settings.user, settings.host);
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>PayloadContent</key>\n\t<array>\n";
  text += accountPayload("CardDAV", identifier, settings);
  text += accountPayload("CalDAV", identifier, settings);
  if (!settings.trustedDer.empty()) text += certificatePayload(identifier, settings);
  text += "\t</array>\n";
  auto topKey = [&](const std::string& name, const std::string& value) {
    text += "\t<key>" + name + "</key>\n\t<string>" + xmlEscaped(value) + "</string>\n";
  };
  topKey("PayloadDescription", "Contacts and calendar of " + settings.user +
                                   " (the password is asked for when the profile is installed)");
  topKey("PayloadDisplayName",
         "Contacts and calendar of " + settings.user + " on " + settings.host);
  topKey("PayloadIdentifier", identifier);
  topKey("PayloadType", "Configuration");
  topKey("PayloadUUID", stableUuid(identifier));
  text += "\t<key>PayloadVersion</key>\n\t<integer>1</integer>\n</dict>\n</plist>\n";
  return text;
}

}  // namespace orva_host
