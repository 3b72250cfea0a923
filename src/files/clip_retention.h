// Retention of clips: a station that runs for months may keep only the last N days. It
// deletes only files whose names Clip & Save makes, never anything a user put beside
// them.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "driver/block.h"

namespace bm7 {

// Whether `fileName` is exactly a clip name: `prefix`, the stamp of any stamp mode (or
// none), a suffix of two or more digits and the extension of one of the clip formats.
bool isOwnClipName(std::string_view fileName, std::string_view prefix);

// Deletes the clips in `folder` named with `prefix` that were last written more than
// `days` days before `now`, oldest first. Returns how many were deleted.
int removeOldClips(const std::string& folder, const std::string& prefix, int days, std::time_t now);

// The same for the folder and prefix of a Clip & Save block; says on `out` how many
// clips it deleted.
void removeOldClips(const BlockRecord& clipSave, int days, std::time_t now, std::FILE* out);

}  // namespace bm7
