// The store's use of the base library's file helpers, with the store's own
// rules: files readable by the appliance's user only (0600), folders 0700,
// no symbolic link followed inside the store's folders, and folder fsyncs
// gathered on the handle's FolderSync until it ends.
#pragma once

#include <set>
#include <string>

#include "appliance/base/file_io.h"

namespace orva_store {

using orva_file::FolderSync;

// Creates the folder and any missing parents below the store's base folder.
// False when a part below the base is a symbolic link or not a folder.
bool ensureDirs(const std::string& path, FolderSync& sync);

// Writes data to dir/name atomically and durably (see orva_file::writeAtomic),
// mode 0600 whatever the earlier file had.
bool writeFileAtomic(const std::string& dir, const std::string& name, const std::string& data,
                     FolderSync& sync);

// The same, atomic for readers but never synced: for a copy that nothing
// keeps (an export, read back at once and downloaded).
bool writeCopyAtomic(const std::string& dir, const std::string& name, const std::string& data);

// Removes the file (never following a symbolic link) and queues its folder.
bool removeFile(const std::string& path, FolderSync& sync);

// Whole content of a regular file; a symbolic link is not followed.
bool readWholeFile(const std::string& path, std::string& out);

// True when no part of path below the store's base folder is a symbolic link
// or anything but a folder; parts that do not exist yet are fine.
bool hasNoLinks(const std::string& path);

// With the exclusive lock held: removes the temporaries that a killed writer
// left in dir. cleared holds the folders already done by this handle, so that
// an import of many cards scans each folder once.
void clearStaleTemps(const std::string& dir, std::set<std::string>& cleared);

// lstat of path: does anything stand there / is it a regular file.
bool entryExists(const std::string& path);
bool isRegularFile(const std::string& path);

}  // namespace orva_store
