// Text of any character set as UTF-8, for values of imported cards. Whatever
// the bytes, the result is valid UTF-8: a card text that is not would make
// the CardDAV server fail the whole address book.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace orva_vcard {

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool isValidUtf8(std::string_view text);

// Reads text in other character sets through the system's converters
// (iconv), keeping the ones it opened for the next call: opening one costs
// about as much as converting a whole card. One decoder per import; it is
// not shared between threads.
class Utf8Decoder {
 public:
  Utf8Decoder();
  ~Utf8Decoder();
  Utf8Decoder(const Utf8Decoder&) = delete;
  Utf8Decoder& operator=(const Utf8Decoder&) = delete;

  // Windows-1252 text as UTF-8. The five bytes that Windows-1252 leaves
  // undefined become U+0081, U+008D, U+008F, U+0090 and U+009D, as browsers
  // read them, so no byte is lost.
  std::string windows1252ToUtf8(std::string_view text);

  // The bytes read in the named character set (any name iconv knows, in any
  // letter case), as UTF-8 in out. False, with out unspecified, when the
  // name is unknown or the bytes are not valid in that set.
  bool charsetToUtf8(std::string_view charset, std::string_view bytes, std::string& out);

  // bytes as UTF-8: read in charset when it is given and they are valid in
  // it (a Latin-1 label is read as Windows-1252, as web browsers do);
  // otherwise as they stand when they are valid UTF-8; else, when they hold
  // at least one well-formed multi-byte UTF-8 sequence, as UTF-8 with each
  // byte that belongs to none as U+FFFD; else as Windows-1252. The result is
  // either bytes itself or a view of buffer.
  std::string_view textAsUtf8(std::string_view bytes, std::string_view charset,
                              std::string& buffer);

 private:
  class Converter;
  std::unique_ptr<Converter> windows1252_;
  std::unique_ptr<Converter> named_;
  std::string namedCharset_;
};

}  // namespace orva_vcard
