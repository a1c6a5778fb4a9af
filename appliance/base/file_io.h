// Small file helpers shared by the base library: whole-file reads and
// atomic replacement (temporary file in the same folder, fsync, rename).
#pragma once

#include <sys/types.h>

#include <string>

namespace orva_file {

// Writes all of data to fd, resuming after interruptions; false on error.
bool writeAll(int fd, const char* data, size_t size);

// Reads a regular file whole into out; false when it cannot be opened or read
// (a folder in its place counts as unreadable).
bool readWhole(const std::string& path, std::string& out);

// Replaces path with content so that readers see either the old or the new
// file, never a part. The new file keeps the old file's mode, or gets
// newMode when there was none. False (path untouched) when it cannot.
bool writeAtomic(const std::string& path, const std::string& content, mode_t newMode = 0644);

// Appends one line (a line feed is added) with O_APPEND, creating the file.
// Control characters inside line are written as '?', so that a value taken
// from a request can never start a line of its own.
bool appendLine(const std::string& path, const std::string& line);

// "2026-01-31T12:00:00Z", the stamp every appliance log line starts with.
std::string utcStamp();

}  // namespace orva_file
