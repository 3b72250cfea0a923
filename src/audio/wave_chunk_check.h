// Whether the chunks of a RIFF WAVE file fit inside it, checked before libsndfile opens
// the file: libsndfile 1.2 spins for minutes on a file whose LIST chunk claims more bytes
// than the file holds, which would stall a whole scan. Only the data chunk may run past
// the end (a recording cut short, read as far as it goes). Other formats always pass.
#pragma once

#include <string>

namespace bm7 {

// False for a WAVE file with a chunk other than data running past its end; `problem`
// then says so, naming the file and the chunk.
bool waveChunksFit(const std::string& path, std::string& problem);

}  // namespace bm7
