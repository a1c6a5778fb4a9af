// var/log/store.log under the root: one line per card text the store refuses.
#pragma once

#include <string>

namespace orva_store {

// Appends "<UTC stamp> refused <operation> user=<user> card=<resource>:
// <reason>". Control bytes and '\' in the names are written as \xNN, so one
// refusal is always one line.
void logRefusal(const std::string& operation, const std::string& user, const std::string& resource,
                const std::string& reason);

}  // namespace orva_store
