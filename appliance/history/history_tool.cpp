// orva-history: the package's keeper of the books' histories.
//
//   orva-history keep USER   the server's storage hook: keeps what a client
//                            of USER just changed (run under the server's
//                            hold of the store lock)
//   orva-history prune       drops what is older than the kept period or
//                            over the size limit, in every history (daily)
//
// The appliance root comes from ORVA_ROOT. Exit status 0 when done, 1 when a
// history could not be written (the server then answers the client with an
// error), 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>

#include "appliance/history/folder_changes.h"
#include "appliance/history/history_prune.h"

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::strcmp(argv[1], "keep") == 0) {
      const std::string user = argv[2];
      if (orva_history::keepFolderChanges(user, user)) return 0;
      std::fprintf(stderr, "orva-history: the changes of %s could not be kept\n", argv[2]);
      return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "prune") == 0) {
      return orva_history::pruneAll() ? 0 : 1;
    }
    std::fprintf(stderr, "usage: orva-history keep USER | orva-history prune\n");
    return 2;
  } catch (...) {
    std::fprintf(stderr, "orva-history: failed\n");
    return 1;
  }
}
