// The resume journal: a folder "journal" in the output folder holding one entry file per
// finished recording, each written whole under its final name, so that a killed scan
// loses only the recordings in progress and several scans (the shards of one job on a
// shared file system) record into one journal at once without harming each other.
// After open(), find() and record() may be called from any number of threads.
#pragma once

#include <optional>
#include <string>

#include "scan/journal_entry.h"
#include "scan/scan_result.h"

namespace bm7::scan {

inline constexpr const char* kJournalFolderName = "journal";

// The key of the recording at `path` (links followed) as it is now on disk.
bool keyOf(const std::string& path, const std::string& options, RecordingKey& key,
           std::string& problem);

// The entry's file name for a recording: a hash of its path in hex, then ".entry".
// Two paths may share a name; the key stored inside tells them apart.
std::string journalEntryName(const std::string& path);

class Journal {
public:
    // Creates the journal folder with its parents; until it succeeds the journal finds
    // nothing and records nothing. Removes only temporary files left more than a day
    // ago: a younger one may belong to a scan writing at this moment.
    bool open(const std::string& outputFolder, std::string& problem);

    // The result recorded for exactly this key; nothing when there is none, when the
    // entry is damaged or of another version, or when the recording or options changed.
    std::optional<FileResult> find(const RecordingKey& key) const;

    // Stores the result atomically, replacing any entry of the same name. Fails, rather
    // than writing elsewhere, on a journal that was not opened.
    bool record(const RecordingKey& key, const FileResult& result, std::string& problem);

    // Removes the recording's entry, so that an earlier finished result of it cannot
    // stand in for one that must be redone.
    void forget(const RecordingKey& key);

    const std::string& folder() const { return folder_; }

private:
    std::string entryPath(const std::string& recordingPath) const;

    std::string folder_;
};

}  // namespace bm7::scan
