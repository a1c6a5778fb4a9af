// JSON text in and out of the host: a strict reader for what users and
// clients send, and the one-line writer for every envelope.
#pragma once

#include <json/value.h>

#include <cstdio>
#include <string>

#include "appliance/host/api/host_codes.h"

namespace orva_host {

// Parses exactly one JSON value of any type (a bare number, string, ...), with
// nothing but white space after it; no comments, no duplicate keys. False with
// a reason in error otherwise.
bool parseStrictJson(const std::string& text, Json::Value& value, std::string& error);

// Whether text holds at most maxNodes arrays, objects and separated
// elements (counted by the brackets and commas outside strings), so that its
// parsed tree stays within a known size. Cheap: one pass, no allocation.
bool jsonNodesWithin(const std::string& text, size_t maxNodes);

// Compact one-line JSON, UTF-8 kept as it is.
std::string compactJson(const Json::Value& value);

// An envelope as one line, "success" first as clients read it:
// {"success":true,"data":...} or {"success":false,"error":{"code":..,"detail":..}}.
// (jsoncpp alone would sort the keys.) Long arrays are made on every core.
std::string envelopeJson(const Json::Value& envelope);

// The same envelope and a line feed, written to file in pieces as it is made
// (a large answer is never held whole as text). Long arrays are made on
// every core. False when a write failed; the caller flushes the file and
// checks it.
bool writeEnvelopeLine(std::FILE* file, const Json::Value& envelope);

// The envelope of a host error: {"success":false,"error":{"code":..,"detail":..}},
// the detail being the code's text, then ": " and the particulars if any.
Json::Value hostErrorEnvelope(HostError code, const std::string& particulars = std::string());

}  // namespace orva_host
