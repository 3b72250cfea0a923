// The stop file's life around a run. A stop file left over from an earlier stop would end
// every later start at once, silently, so a run removes it before it begins and once it
// has been stopped by it.
#pragma once

#include <cstdio>
#include <string>

namespace bm7 {

// Before the run: reports and removes a stop file that is already there, and warns on
// `warnings` when the stop file's folder does not exist (only a signal can stop such a
// run). Returns an empty text, or the message that ends the run at start when the stop
// file cannot be removed.
std::string clearStopFile(const std::string& stopFile, std::FILE* warnings);

// After the stop file ended the run: says so on `warnings` and removes it.
void retireStopFile(const std::string& stopFile, std::FILE* warnings);

}  // namespace bm7
