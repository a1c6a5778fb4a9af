#include "vcard/charset_to_utf8.h"

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>

#include "vcard/property_name.h"

namespace orva_vcard {

// One iconv conversion descriptor, closed with the object.
class Utf8Decoder::Converter {
 public:
  explicit Converter(const std::string& from) : cd_(::iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts from in onwards, appending to out, up to the end or up to the
  // first byte that cannot be converted; false in that case, with in left
  // at that byte. Starts from the initial shift state.
  bool convert(std::string_view& in, std::string& out) {
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char chunk[4096];
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    bool done = false;
    bool failed = false;
    while (!done && !failed) {
      char* outPtr = chunk;
      std::size_t outLeft = sizeof chunk;
      std::size_t result;
      if (inLeft > 0) {
        result = ::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      } else {
        // Flush a stateful encoding's closing sequence.
        result = ::iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        done = result != static_cast<std::size_t>(-1);
      }
      out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
      if (result == static_cast<std::size_t>(-1) && errno != E2BIG) failed = true;
    }
    in = std::string_view(inPtr, inLeft);
    return !failed;
  }

 private:
  iconv_t cd_;
};

namespace {

bool isAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void appendLatin1(unsigned char byte, std::string& out) {
  if (byte < 0x80) {
    out.push_back(static_cast<char>(byte));
  } else {
    out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
    out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
  }
}

bool isUtf8Name(std::string_view charset) {
  return nameIs(charset, "UTF-8") || nameIs(charset, "UTF8") || nameIs(charset, "US-ASCII") ||
         nameIs(charset, "ASCII");
}

// Labels of Latin-1. Exporters that name it mostly write Windows-1252 (the
// euro sign, curly quotes), whose extra characters Latin-1 holds as control
// codes, so it is read as Windows-1252, as web browsers do.
bool isLatin1Name(std::string_view charset) {
  static constexpr std::string_view kNames[] = {
      "ISO-8859-1", "ISO8859-1",  "ISO_8859-1",  "ISO88591",     "LATIN1", "L1",      "CP819",
      "IBM819",     "ISO-IR-100", "CSISOLATIN1", "WINDOWS-1252", "CP1252", "X-CP1252"};
  for (const std::string_view name : kNames) {
    if (nameIs(charset, name)) return true;
  }
  return false;
}

// Names iconv may take: no option suffix ("//IGNORE") or anything odd.
bool isPlainCharsetName(std::string_view charset) {
  if (charset.empty() || charset.size() > 64) return false;
  for (const char c : charset) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

// The length of the well-formed UTF-8 sequence of two to four bytes at p,
// 0 when none starts there.
std::size_t multiByteLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = *p;
  std::size_t length;
  std::uint32_t point;
  std::uint32_t least;
  if ((c & 0xE0) == 0xC0) {
    length = 2, point = c & 0x1F, least = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, point = c & 0x0F, least = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, point = c & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    point = (point << 6) | (p[i] & 0x3F);
  }
  if (point < least || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return 0;
  return length;
}

bool hasMultiByteSequence(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  for (; p < end; ++p) {
    if (*p >= 0x80 && multiByteLength(p, end) > 0) return true;
  }
  return false;
}

// UTF-8 text with a few bad bytes: the good characters as they are, each
// bad byte as U+FFFD.
std::string withBadBytesReplaced(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      out.push_back(static_cast<char>(*p++));
      continue;
    }
    const std::size_t length = multiByteLength(p, end);
    if (length == 0) {
      out.append("\xEF\xBF\xBD");
      ++p;
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
  }
  return out;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    // Runs of ASCII, eight bytes at a time.
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t length = multiByteLength(p, end);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

Utf8Decoder::Utf8Decoder() = default;
Utf8Decoder::~Utf8Decoder() = default;

std::string Utf8Decoder::windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  if (!windows1252_) windows1252_ = std::make_unique<Converter>("WINDOWS-1252");
  std::string_view rest = text;
  while (!rest.empty()) {
    // Without the system's converter, Latin-1 is the nearest reading that
    // still keeps every byte.
    if (windows1252_->ok() && windows1252_->convert(rest, out)) break;
    appendLatin1(static_cast<unsigned char>(rest.front()), out);
    rest.remove_prefix(1);
  }
  return out;
}

bool Utf8Decoder::charsetToUtf8(std::string_view charset, std::string_view bytes,
                                std::string& out) {
  out.clear();
  if (!isPlainCharsetName(charset)) return false;
  if (!named_ || !nameIs(charset, namedCharset_)) {
    // Kept under its upper-case name, which nameIs compares with.
    namedCharset_.assign(charset);
    for (char& c : namedCharset_) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    named_ = std::make_unique<Converter>(namedCharset_);
  }
  return named_->ok() && named_->convert(bytes, out);
}

std::string_view Utf8Decoder::textAsUtf8(std::string_view bytes, std::string_view charset,
                                         std::string& buffer) {
  if (!charset.empty() && !isUtf8Name(charset)) {
    if (isLatin1Name(charset)) {
      if (isAscii(bytes)) return bytes;
      buffer = windows1252ToUtf8(bytes);
      return buffer;
    }
    if (charsetToUtf8(charset, bytes, buffer) && isValidUtf8(buffer)) return buffer;
  }
  if (isValidUtf8(bytes)) return bytes;
  // One stray byte in UTF-8 text must not turn every other character into
  // Windows-1252 mojibake; only text without a single UTF-8 sequence is
  // taken for Windows-1252.
  buffer = hasMultiByteSequence(bytes) ? withBadBytesReplaced(bytes) : windows1252ToUtf8(bytes);
  return buffer;
}

}  // namespace orva_vcard
