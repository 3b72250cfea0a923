// The checks a run makes of its files before it begins, so that a station left alone
// finds an unwritable folder at once rather than at its first song hours later, and
// starts clean after a crash or a stop.
#pragma once

#include <cstdio>
#include <string>

#include "files/file_settings.h"

namespace bm7 {

// Whether new files can be made in `folder`, found by making and removing one: access()
// says yes to root and on read-only mounts. Returns an empty text, or a message naming
// the folder (`purpose` says which) and the system's reason.
std::string checkFolderWritable(const std::string& folder, const char* purpose);

// The same for the level log: its folder, and the log itself when it exists.
std::string checkLogWritable(const std::string& logFile);

// Removes the temporary files that writers killed in an earlier run left in `folder`;
// those of a process still running are left alone. Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& folder);

// Everything above, in order, with the folders made first and the stop file cleared
// (stop_file.h). Notes go to `warnings`; returns an empty text, or the message that
// ends the run at start.
std::string prepareRunFiles(const FileSettings& settings, std::FILE* warnings);

}  // namespace bm7
