// File Exist: outputs 1.0 while a named file can be opened for reading, 0.0 otherwise.
// It probes afresh at every hit of its own period and never creates or changes the
// file, so a user ends an unattended run by creating it.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Parameters, in order: the file name and the sample period in seconds.
enum FileExistParam { kProbedFileName, kProbePeriod, kFileExistParamCount };

// True when the file opens for reading; a file that exists but cannot be read is absent.
bool fileExists(const char* name);

void registerFileExist(BlockRecord* block);

}  // namespace bm7
