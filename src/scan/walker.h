// Finds the recordings a scan analyses, in the scan's order: the PATH arguments in the
// order given, each one's recordings sorted by their path relative to it (byte order),
// so that two recorders' folders given as two arguments stay apart. A folder is walked
// recursively, skipping dot-files and dot-folders and keeping files by extension
// (case-insensitive: wav flac ogg oga aif aiff au w64 rf64 caf mp3). A file named
// directly is kept whatever its name: the user chose it, and the reader says if it is
// not audio. Links to files are followed; links to folders met inside a walk are not
// (a link back up the tree would never end), but a PATH that is itself such a link is.
// A file reached twice (two arguments, a link beside its target) is listed once, where
// first found. Nothing here is fatal: missing PATHs and unreadable folders are reported.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm7::scan {

struct FoundRecording {
    std::string argument;  // the PATH as given
    std::string
        relative;      // path below the PATH with '/' separators; a file given directly: its name
    std::string path;  // the PATH joined with `relative` (a file given directly: the PATH)
    // The tables' name for it, unique in the scan: with one PATH `relative`, with several
    // the path below the deepest folder that holds them all.
    std::string file;
    std::string skipped;  // why it is listed but not analysed; empty for a recording
};

struct WalkReport {
    std::vector<FoundRecording> recordings;
    std::vector<std::string>
        missing;  // PATHs that name nothing; none found means the scan cannot run
    std::vector<std::string> problems;  // "PATH: reason" for what could not be read or examined
};

// Whether a file met in a folder walk is one the scan analyses, judged by its name.
bool isRecordingName(std::string_view fileName);

WalkReport findRecordings(const std::vector<std::string>& arguments);

}  // namespace bm7::scan
