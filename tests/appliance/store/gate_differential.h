// The store's gate against the CardDAV server's own judgement: generated
// cards go to both, and a card that the gate takes and the server refuses is
// a fault of the gate (the whole book would fail for every client), as is one
// that the server serves with other properties than the gate took (clients
// would read another card than the one stored).
#pragma once

#include <stdio.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "appliance/store/card_check.h"
#include "tests/appliance/store/hostile_cards.h"

namespace orva_test {

struct DifferentialCounts {
  std::uint64_t cards = 0;
  std::uint64_t taken = 0;
  std::uint64_t takenButRefused = 0;
  std::uint64_t refusedButServable = 0;
  std::uint64_t compared = 0;
  std::uint64_t servedOtherwise = 0;
  bool checked = false;  // the server's check ran and answered
};

inline std::uint64_t jsonCount(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return 0;
  return std::stoull(json.substr(at + key.size() + 4));
}

// Cards first .. first+count-1 of the series seed, judged by the gate and
// then, all at once, by the server's check (server_check.py with jobs
// processes). workFile holds the cards meanwhile; the server's findings go
// to standard error.
inline DifferentialCounts runDifferential(std::uint64_t seed, std::uint64_t first,
                                          std::uint64_t count, int jobs,
                                          const std::string& workFile, const std::string& checker) {
  DifferentialCounts counts;
  {
    std::ofstream out(workFile, std::ios::binary);
    HostileCards cards;
    for (std::uint64_t i = first; i < first + count; ++i) {
      const std::string text = cards.card(seed, i);
      const bool taken = orva_store::cardTextRefusal(text).empty();
      out << (taken ? "T " : "R ") << text.size() << "\n" << text;
    }
    if (!out) return counts;
  }
  const std::string command =
      "/usr/bin/python3 '" + checker + "' '" + workFile + "' " + std::to_string(jobs);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return counts;
  std::string output;
  char buffer[512];
  while (::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  if (output.find("\"cards\"") == std::string::npos || (status != 0 && status != 256)) {
    return counts;
  }
  counts.checked = true;
  counts.cards = jsonCount(output, "cards");
  counts.taken = jsonCount(output, "taken");
  counts.takenButRefused = jsonCount(output, "taken_but_refused");
  counts.refusedButServable = jsonCount(output, "refused_but_servable");
  counts.compared = jsonCount(output, "compared");
  counts.servedOtherwise = jsonCount(output, "served_otherwise");
  return counts;
}

}  // namespace orva_test
