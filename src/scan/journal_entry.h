// The text of one resume-journal entry: a version line, the key that says which
// recording and which options the result belongs to, the FileResult with every double
// written exactly, and a checksum line that makes a truncated or damaged entry read as
// no entry at all. Strings are kept byte for byte (tab, CR, LF and backslash escaped).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scan/scan_result.h"

namespace bm7::scan {

// Which recording, in which state, analysed with which options: a result is reused
// only for the very same key.
struct RecordingKey {
    std::string path;  // as in `Begin Path`
    std::uintmax_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::string options;  // every option that changes the results, as the driver spells them
};

bool operator==(const RecordingKey& a, const RecordingKey& b);

// 64-bit FNV-1a in 16 lowercase hex digits: the same on every machine and in every run.
std::string fnv1a64Hex(std::string_view bytes);

std::string journalEntryText(const RecordingKey& key, const FileResult& result);

// The result stored in `text`, or nothing when the text is not a whole entry of this
// version or was stored under another key.
std::optional<FileResult> readJournalEntry(std::string_view text, const RecordingKey& key);

}  // namespace bm7::scan
