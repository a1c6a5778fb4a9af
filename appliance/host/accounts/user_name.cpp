#include "appliance/host/accounts/user_name.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdio>

namespace orva_host {

namespace {

// "U+2028 LINE SEPARATOR", "U+0085 <control-0085>".
std::string characterName(UChar32 c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  char name[128];
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length = u_charName(c, U_EXTENDED_CHAR_NAME, name, sizeof name, &error);
  if (U_FAILURE(error) || length <= 0) return code;
  return std::string(code) + " " + std::string(name, static_cast<size_t>(length));
}

// Why c may not be in a user name, "" when it may.
const char* refusedKind(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
      return "a control character";
    case U_FORMAT_CHAR:
      return "an invisible format character";
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return "a line or paragraph separator";
    default:
      break;
  }
  if (u_hasBinaryProperty(c, UCHAR_NONCHARACTER_CODE_POINT)) return "a noncharacter";
  if (c == ':') return "the separator of the users file";
  if (c == '/') return "the separator of addresses";
  return "";
}

// The first character that is not well-formed UTF-8, as a reason.
std::string brokenAt(const std::string& name, int32_t at) {
  const auto byte = [&](int32_t i) {
    return i < static_cast<int32_t>(name.size()) ? static_cast<unsigned char>(name[i]) : 0u;
  };
  // A surrogate as three bytes, as a JSON "\udc00" arrives.
  if (byte(at) == 0xED && byte(at + 1) >= 0xA0 && (byte(at + 2) & 0xC0) == 0x80) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X",
                  0xD000u | ((byte(at + 1) & 0x3Fu) << 6) | (byte(at + 2) & 0x3Fu));
    return std::string(code) + " is a lone surrogate, not a character";
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte(at));
  return std::string("the name is not UTF-8 (byte ") + hex + " at " + std::to_string(at) + ")";
}

bool toUnicode(const std::string& name, icu::UnicodeString& text, std::string& reason) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  const auto length = static_cast<int32_t>(name.size());
  for (int32_t i = 0; i < length;) {
    const int32_t at = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      reason = brokenAt(name, at);
      return false;
    }
  }
  text = icu::UnicodeString::fromUTF8(name);
  return true;
}

bool normalized(const icu::Normalizer2* (*instance)(UErrorCode&), icu::UnicodeString& text) {
  UErrorCode error = U_ZERO_ERROR;
  const icu::Normalizer2* form = instance(error);
  if (U_FAILURE(error)) return false;
  text = form->normalize(text, error);
  return U_SUCCESS(error);
}

}  // namespace

bool acceptNewUserName(const std::string& name, std::string& nfc, std::string& reason) {
  icu::UnicodeString text;
  if (name.empty()) {
    reason = "the name is empty";
    return false;
  }
  if (!toUnicode(name, text, reason)) return false;
  if (!normalized(&icu::Normalizer2::getNFCInstance, text)) {
    reason = "the name cannot be put in NFC";
    return false;
  }
  if (text.countChar32() > static_cast<int32_t>(kMaxUserNameCharacters)) {
    reason = "the name is longer than " + std::to_string(kMaxUserNameCharacters) + " characters";
    return false;
  }
  for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
    const UChar32 c = text.char32At(i);
    if (i == 0 && (c == '#' || c == '.')) {
      reason = characterName(c) + " may not begin a user name";
      return false;
    }
    const char* kind = refusedKind(c);
    if (*kind != '\0') {
      reason = characterName(c) + " is " + kind + ", which a user name may not hold";
      return false;
    }
  }
  nfc.clear();
  text.toUTF8String(nfc);
  return true;
}

std::string userNameKey(const std::string& name) {
  icu::UnicodeString text;
  std::string reason;
  if (!toUnicode(name, text, reason) || !normalized(&icu::Normalizer2::getNFDInstance, text)) {
    return std::string();
  }
  text.foldCase(U_FOLD_CASE_DEFAULT);
  if (!normalized(&icu::Normalizer2::getNFDInstance, text)) return std::string();
  std::string key;
  text.toUTF8String(key);
  return key;
}

std::string userNameWarning(const std::string& name) {
  std::string nfc, reason;
  if (!acceptNewUserName(name, nfc, reason)) return reason;
  if (nfc != name) return "the name is not in NFC (composed accents): it may look like another";
  return std::string();
}

}  // namespace orva_host
