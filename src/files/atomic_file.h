// Files that users keep are written whole or not at all: the bytes go to a temporary
// file in the same folder, are flushed and synced, and only then renamed to the final
// name, so a crash, a kill or a power cut never leaves part of a file under that name.
// A failed or abandoned write leaves nothing behind. Safe to use from several threads
// and processes at once: every temporary name is unique.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bm7 {

// The folder a path's file is in; "." for a bare file name.
std::string folderOf(const std::string& path);

// The names of the entries of `folder`, as far as it can be read; never throws a
// file-system error, so a folder that vanishes mid-listing cannot end a run.
std::vector<std::string> namesIn(const std::string& folder);

// Whether a file name (without folder) is one of the temporary names used here:
// ".NAME.<unique>.part". Folder listings skip them; a start-up may remove stale ones.
bool isTemporaryFileName(std::string_view fileName);
// A new hidden name beside `finalPath` for writing it, unique in the folder:
// ".NAME.PID-N.part", which isTemporaryFileName knows.
std::string temporaryPathFor(const std::string& finalPath);

// What the rename at a commit may do to a file already under the final name.
enum class FinalName { mayReplace, mustBeNew };

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();  // abandons a file that was not committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file for `finalPath`. On failure `problem` names the
    // temporary file and gives the system's reason, and error() its errno.
    bool open(const std::string& finalPath, std::string& problem);
    std::FILE* stream() const { return stream_; }
    const std::string& temporaryPath() const { return temporaryPath_; }

    // Flushes, syncs and closes the temporary file, then renames it to the final name
    // and syncs the folder. On failure the temporary file is removed, `problem` names
    // the file with the system's reason and error() gives the errno (ENOSPC, EDQUOT...).
    // `written` is the caller's own verdict on its writes: false abandons the file. With
    // FinalName::mustBeNew a file already under the final name is left alone and the
    // commit fails with EEXIST, whoever made that file and whenever.
    bool commit(std::string& problem, bool written = true,
                FinalName finalName = FinalName::mayReplace);
    // Closes and removes the temporary file; the final name is untouched.
    void abandon();

    int error() const { return error_; }
    // Whether the last failure was the rename: the bytes were stored, but the final name
    // could not be given to them (a folder of that name, a vanished folder).
    bool renameFailed() const { return renameFailed_; }

private:
    bool fail(const std::string& path, std::string& problem);

    std::FILE* stream_ = nullptr;
    std::string finalPath_;
    std::string temporaryPath_;
    int error_ = 0;
    bool renameFailed_ = false;
};

// Writes `contents` to `path` through an AtomicFile.
bool writeFileAtomically(const std::string& path, std::string_view contents, std::string& problem);

}  // namespace bm7
