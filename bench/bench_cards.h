// 10,000 realistic cards for the benchmarks, and a store holding them.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/contact_store.h"

namespace orva_bench {

constexpr int kCards = 10000;

const char* const kGiven[] = {"Anna", "Ben", "Chloé", "David", "Eva", "Farid", "Grace", "Hugo"};
const char* const kFamily[] = {"Smith", "Müller", "García", "Nguyen", "O'Brien", "Kowalski"};
const char* const kStreets[] = {"Main St", "Elm Road", "Hauptstraße", "Rue de la Paix"};

struct CardMaker {
  std::mt19937 rng{20240607};

  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  std::string digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + pick(10)));
    return s;
  }

  // A base64 photo folded at 75 columns, as exporters write it; whole
  // quadruples, so that it decodes.
  std::string photo(std::size_t bytes) {
    bytes -= bytes % 4;
    static constexpr char kB64[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line = "PHOTO;ENCODING=b;TYPE=JPEG:";
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) {
      if (line.size() == 75) {
        out += line + "\r\n";
        line = " ";
      }
      line.push_back(kB64[pick(64)]);
    }
    return out + line + "\r\n";
  }

  // A note of about size bytes with escaped line breaks, folded at 75
  // columns as exporters fold long lines.
  std::string note(std::size_t size) {
    static constexpr const char* kWords[] = {"met",  "at",     "the",    "conference", "call",
                                             "back", "about",  "offer",  "spring",     "bring",
                                             "the",  "signed", "papers", "\\n",        "kids"};
    std::string text = "NOTE:";
    while (text.size() < size) (text += kWords[pick(15)]) += ' ';
    std::string folded;
    for (std::size_t at = 0; at < text.size(); at += 74) {
      folded += (at == 0 ? "" : " ") + text.substr(at, 74) + "\r\n";
    }
    return folded;
  }

  std::string make(int i, bool withPhoto) {
    const std::string uid = "card-" + std::to_string(100000 + i);
    const std::string given = kGiven[pick(8)];
    const std::string family = kFamily[pick(6)];
    std::string c = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const int shape = pick(3);  // 0 Apple-like, 1 Google-like, 2 our own writer
    if (shape == 0) c += "PRODID:-//Apple Inc.//macOS 13.4//EN\r\n";
    c += "UID:" + uid + "\r\n";
    c += "N:" + family + ";" + given + ";;;\r\nFN:" + given + " " + family + "\r\n";
    if (pick(2)) c += "ORG:Company " + std::to_string(pick(500)) + ";\r\nTITLE:Manager\r\n";
    const int mails = 1 + pick(3);
    for (int m = 0; m < mails; ++m) {
      const std::string item = "item" + std::to_string(m + 1);
      if (shape == 0) {
        c += item + ".EMAIL;type=INTERNET;type=pref:" + given + "." + std::to_string(m) +
             "@example.com\r\n" + item + ".X-ABLabel:_$!<Other>!$_\r\n";
      } else {
        c += "EMAIL;TYPE=INTERNET;TYPE=HOME:" + given + std::to_string(m) + "@mail.example\r\n";
      }
    }
    const int tels = 1 + pick(4);
    for (int t = 0; t < tels; ++t) {
      c += std::string("TEL;type=") + (t % 2 ? "HOME" : "CELL") + ";type=VOICE:+1 (" + digits(3) +
           ") " + digits(3) + "-" + digits(4) + "\r\n";
    }
    if (pick(2)) {
      c += "item9.ADR;type=HOME;type=pref:;;" + std::to_string(1 + pick(300)) + " " +
           kStreets[pick(4)] + ";Springfield;IL;" + digits(5) + ";United States\r\n" +
           "item9.X-ABADR:us\r\n";
    }
    if (pick(3) == 0) c += "URL;type=WORK:https://www." + family + ".example/~" + given + "\r\n";
    if (pick(2))
      c += "BDAY:19" + digits(2) + "-0" + std::to_string(1 + pick(9)) + "-1" + digits(1) + "\r\n";
    if (pick(3) != 0) c += note(40 + static_cast<std::size_t>(pick(700)));
    if (shape == 0) {
      c += "X-ABUID:" + uid + ":ABPerson\r\n";
      if (pick(2)) {
        c += "item5.X-ABRELATEDNAMES;type=pref:" + std::string(kGiven[pick(8)]) +
             "\r\nitem5.X-ABLabel:_$!<Spouse>!$_\r\n";
      }
      if (pick(3) == 0) {
        c += "X-SOCIALPROFILE;type=linkedin:https://www.linkedin.com/in/" + given + family +
             "\r\nIMPP;X-SERVICE-TYPE=Skype;type=HOME;type=pref:skype:" + given + "." + family +
             "\r\n";
      }
    }
    if (pick(4) == 0) c += "NICKNAME:" + given.substr(0, 3) + "\r\n";
    if (shape == 1) c += "CATEGORIES:myContacts\r\n";
    c += "REV:2024-05-0" + std::to_string(1 + pick(9)) + "T10:00:00Z\r\n";
    if (withPhoto) c += photo(6000 + static_cast<std::size_t>(pick(12000)));
    return c + "END:VCARD\r\n";
  }
};

// 10,000 cards; one in a hundred carries a photo.
inline const std::vector<std::string>& cards() {
  static const std::vector<std::string> all = [] {
    CardMaker maker;
    std::vector<std::string> made;
    for (int i = 0; i < kCards; ++i) made.push_back(maker.make(i, i % 100 == 42));
    return made;
  }();
  return all;
}

// A store of 10,000 cards for the user "bench" in a temporary root, or in
// ORVA_BENCH_ROOT (kept afterwards, for timing the host program on it).
class BenchRoot {
 public:
  BenchRoot() {
    if (const char* kept = std::getenv("ORVA_BENCH_ROOT")) {
      keep_ = true;
      path_ = kept;
      std::filesystem::create_directories(path_);
    } else {
      std::string pattern = (std::filesystem::temp_directory_path() / "orva-bench-XXXXXX").string();
      if (::mkdtemp(pattern.data()) == nullptr) return;
      path_ = pattern;
    }
    ::setenv("ORVA_ROOT", path_.c_str(), 1);
    DBHandler db;
    db.SetupUserBasicInfo("bench");
    const std::string guid = db.GetGUID("bench");
    for (int i = 0; i < kCards; ++i) {
      db.AddCard(guid, "card-" + std::to_string(100000 + i), cards()[i]);
    }
    Json::Value ids(Json::arrayValue);
    Json::Value texts(Json::arrayValue);
    stored_ = db.GetCards(ids, texts, guid);
  }
  ~BenchRoot() {
    std::error_code ignored;
    if (!path_.empty() && !keep_) std::filesystem::remove_all(path_, ignored);
  }
  int stored() const { return stored_; }

 private:
  std::string path_;
  bool keep_ = false;
  int stored_ = 0;
};

}  // namespace orva_bench
