// What one client may take of the server: sizes, counts and times. An idle
// or slow connection holds only its socket, never a worker.
#pragma once

#include <chrono>
#include <cstddef>

namespace orva_host {

// Bodies: a multipart upload to /webapi, and every other body (JSON).
constexpr size_t kMaxUploadBytes = 16u * 1024u * 1024u;
// A calendar file: 100,000 events take some 30 MB.
constexpr size_t kMaxCalendarUploadBytes = 64u * 1024u * 1024u;
constexpr size_t kMaxJsonBytes = 4u * 1024u * 1024u;
// Arrays, objects and elements of one JSON text. A parsed element takes
// some hundred bytes in each of the few copies a request makes (host tree,
// the module's request, its own reading); this keeps one request within
// some tens of MB, and allows deleting or exporting tens of thousands of
// cards at once.
constexpr size_t kMaxJsonNodes = 50000;
constexpr size_t kMaxFormParts = 16;

// The request line and headers together, and the number of header fields.
constexpr size_t kMaxHeaderBytes = 16u * 1024u;
constexpr size_t kMaxHeaderFields = 100;

// From the connection (or the end of the last answer) to the end of the
// headers; for the whole body; for writing the whole answer.
constexpr std::chrono::seconds kHeadTimeout{10};
constexpr std::chrono::seconds kBodyTimeout{60};
constexpr std::chrono::seconds kWriteTimeout{60};
// A body must keep coming: at least this many bytes in each window (1 KiB/s
// on average), or the connection is closed.
constexpr std::chrono::seconds kBodyRateWindow{10};
constexpr size_t kMinBodyBytesPerWindow = 10u * 1024u;
// All bodies being read or waiting for their answer, together, as read so
// far; a body that would go beyond gets 503 and its connection is closed.
constexpr size_t kMaxBodyBytesInFlight = 64u * 1024u * 1024u;
// The read buffer of a connection while it reads a body.
constexpr size_t kBodyReadBytes = 64u * 1024u;
// After a refusal: how long the rest of a request is read and dropped so
// that the client sees the answer rather than a reset.
constexpr std::chrono::seconds kLingerTimeout{2};
constexpr size_t kMaxLingerBytes = 32u * 1024u * 1024u;
// The same after a refusal at the headers of a body that no route takes or
// that comes without the token: reading it would cost what the refusal saves.
constexpr size_t kMaxAnonymousLingerBytes = 256u * 1024u;

// After SIGINT or SIGTERM, how long requests still in the module may take
// before the process ends without them.
constexpr std::chrono::seconds kStopGrace{3};

constexpr unsigned kMaxRequestsPerConnection = 1000;
// Open connections; at the limit a new one ends the one that has waited
// longest for a request's head or has been reading a body longest.
constexpr size_t kMaxConnections = 1000;

// Threads that run requests, and requests that may wait for one; beyond
// that a request gets 503 at once.
constexpr size_t kWorkerThreads = 8;
constexpr size_t kMaxQueuedRequests = 64;

// After a request and answer of at least this many bytes together, freed
// memory goes back to the system (small ones leave little behind).
constexpr size_t kTrimAfterBytes = 16u * 1024u;

}  // namespace orva_host
