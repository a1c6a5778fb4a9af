// The CardDAV server keeps an item cache beside each book and builds an
// entry per card on the first read after a change, with two syncs each: the
// first sync of a phone after a large import would wait minutes. After an
// import the store has the server's own code build the entries in the
// background, without syncs (a lost entry is rebuilt on the next read).
#pragma once

#include <string>

namespace orva_store {

// Starts the warm-up of the user's book in a process of its own and returns
// at once (it does not wait for the warm-up). Nothing is started when the
// server's processes are switched off (ORVA_SERVER_PROCESSES=off) or the
// server's Python is missing. Entries the server already has are kept.
void warmServerCache(const std::string& user);

}  // namespace orva_store
