// gate_differential: the long run of the gate's differential test, by hand.
//   gate_differential [--cards N] [--seed S] [--jobs J] [--batch B]
// Prints the counts of each batch and the totals as one JSON line each.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/appliance/store/gate_differential.h"

namespace {

void usage() {
  std::fputs(
      "usage: gate_differential [--cards N] [--seed S] [--jobs J] [--batch B]\n"
      "Generates N hostile cards (default 1000000) of series S (default 1), judges each\n"
      "with the contact store's gate and with the CardDAV server's own check (J\n"
      "processes, default 2), B cards at a time (default 100000), and prints the counts.\n"
      "Each card taken and served is compared with what the server serves, property by\n"
      "property. Exit status 1 when a card taken by the gate is refused by the server or\n"
      "served otherwise.\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t cards = 1000000;
  std::uint64_t seed = 1;
  std::uint64_t batch = 100000;
  int jobs = 2;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--cards") == 0 && hasValue) {
      cards = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--seed") == 0 && hasValue) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--jobs") == 0 && hasValue) {
      jobs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--batch") == 0 && hasValue) {
      batch = std::strtoull(argv[++i], nullptr, 10);
    } else {
      usage();
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  if (batch == 0 || jobs < 1) {
    usage();
    return 2;
  }
  const std::string checker =
      std::string(ORVA_SOURCE_DIR) + "/tests/appliance/store/server_check.py";
  char work[] = "/tmp/gate-differential-XXXXXX";
  const int fd = ::mkstemp(work);
  if (fd < 0) return 2;
  ::close(fd);
  orva_test::DifferentialCounts total;
  for (std::uint64_t first = 0; first < cards; first += batch) {
    const std::uint64_t count = cards - first < batch ? cards - first : batch;
    const auto counts = orva_test::runDifferential(seed, first, count, jobs, work, checker);
    if (!counts.checked) {
      std::fprintf(stderr, "the server's check did not run\n");
      ::unlink(work);
      return 2;
    }
    total.cards += counts.cards;
    total.taken += counts.taken;
    total.takenButRefused += counts.takenButRefused;
    total.refusedButServable += counts.refusedButServable;
    total.compared += counts.compared;
    total.servedOtherwise += counts.servedOtherwise;
    std::printf(
        "{\"first\": %llu, \"cards\": %llu, \"taken\": %llu, \"taken_but_refused\": %llu, "
        "\"compared\": %llu, \"served_otherwise\": %llu}\n",
        static_cast<unsigned long long>(first), static_cast<unsigned long long>(counts.cards),
        static_cast<unsigned long long>(counts.taken),
        static_cast<unsigned long long>(counts.takenButRefused),
        static_cast<unsigned long long>(counts.compared),
        static_cast<unsigned long long>(counts.servedOtherwise));
    std::fflush(stdout);
  }
  ::unlink(work);
  std::printf(
      "{\"total\": true, \"seed\": %llu, \"cards\": %llu, \"taken\": %llu, \"taken_but_refused\": "
      "%llu, \"refused_but_servable\": %llu, \"compared\": %llu, \"served_otherwise\": %llu}\n",
      static_cast<unsigned long long>(seed), static_cast<unsigned long long>(total.cards),
      static_cast<unsigned long long>(total.taken),
      static_cast<unsigned long long>(total.takenButRefused),
      static_cast<unsigned long long>(total.refusedButServable),
      static_cast<unsigned long long>(total.compared),
      static_cast<unsigned long long>(total.servedOtherwise));
  return total.takenButRefused == 0 && total.servedOtherwise == 0 ? 0 : 1;
}
