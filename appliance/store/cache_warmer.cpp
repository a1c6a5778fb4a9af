#include "appliance/store/cache_warmer.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "appliance/store/store_layout.h"

extern char** environ;

namespace orva_store {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Run by the server's Python: argv[1] the collections folder, argv[2] the
// user. Each entry is made by the server's own code (its reading, upload
// check and item), exactly as its first read would; only the file is
// written without sync. The store's shared lock is held 200 cards at a time,
// so that writers wait little.
constexpr const char* kWarmer = R"PY(
import os, pickle, sys
from radicale import config, item as radicale_item, storage
folder, user = sys.argv[1], sys.argv[2]
configuration = config.load()
configuration.update({"storage": {"filesystem_folder": folder}}, "warm-up", privileged=True)
store = storage.load(configuration)
with store.acquire_lock("r", user):
    book = next(iter(store.discover("/%s/contacts/" % user, depth="0")), None)
    hrefs = sorted(book._list()) if book is not None else []
if hrefs:
    cache = os.path.join(book._filesystem_path, ".Radicale.cache", "item")
    os.makedirs(cache, exist_ok=True)
for start in range(0, len(hrefs), 200):
    with store.acquire_lock("r", user):
        for href in hrefs[start:start + 200]:
            try:
                with open(os.path.join(book._filesystem_path, href), "rb") as f:
                    raw = f.read()
                cache_hash = book._item_cache_hash(raw)
                if book._load_item_cache(href, cache_hash) is not None:
                    continue
                items = radicale_item.read_components(raw.decode(book._encoding))
                radicale_item.check_and_sanitize_items(items, tag=book.tag)
                item = radicale_item.Item(collection=book, vobject_item=items[0])
                content = book._item_cache_content(item)
                temp = os.path.join(cache, ".Radicale.tmp-warm-" + href)
                with open(temp, "wb") as f:
                    pickle.dump((cache_hash, *content), f)
                os.replace(temp, os.path.join(cache, href))
            except Exception:
                pass
)PY";

}  // namespace

void warmServerCache(const std::string& user) {
  const char* processes = std::getenv("ORVA_SERVER_PROCESSES");
  if (processes != nullptr && std::strcmp(processes, "off") == 0) return;
  if (::access(kPython, X_OK) != 0) return;
  const std::string folder = collectionsDir();
  // The shell starts the warm-up in the background and ends at once, so the
  // warm-up never becomes a child this process must wait for.
  const char* argv[] = {
      "sh",         "-c",    "\"$0\" -c \"$1\" \"$2\" \"$3\" </dev/null >/dev/null 2>&1 &",
      kPython,      kWarmer, folder.c_str(),
      user.c_str(), nullptr};
  pid_t shell = 0;
  if (::posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
      0) {
    return;
  }
  int status = 0;
  while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace orva_store
