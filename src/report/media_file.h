// The report's media files (spectrograms, detection audio) are many and are written
// while the scan runs, so each is only renamed into place whole, without a sync of its
// own: syncMediaFolder then makes all of them durable at once before any page that
// names them is written. A page therefore never names an image a power cut could lose,
// and a scan does not wait on one disk flush per detection.
#pragma once

#include <string>
#include <string_view>

namespace bm7::report {

// Writes `bytes` to a temporary name beside `path` (".NAME.<unique>.part", which folder
// listings skip) and renames it to `path`. On failure nothing is left and `problem`
// names the file with the system's reason.
bool writeMediaFile(const std::string& path, std::string_view bytes, std::string& problem);

// Flushes the file system holding `folder` to disk.
bool syncMediaFolder(const std::string& folder, std::string& problem);

}  // namespace bm7::report
