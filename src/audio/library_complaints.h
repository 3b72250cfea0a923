// Keeps the sound libraries' own complaint lines ("Expression ... failed in ...", "ALSA
// lib ...", the JACK client's) off the error stream while a sound device is in use. Those
// lines come from the library's own threads at any moment, for instance when the sound
// server goes away, and the program says what happened in its own words.
//
// Contract: made and destroyed on one thread. While it lives, the error stream's
// descriptor is a pipe read by a thread of its own, which passes every other line on to
// the real error stream at once; destruction restores the descriptor and returns after
// every line written before it has been passed on. A crash while it lives may take the
// unread end of its own report with it; with BM7_AUDIO_DEBUG set in the environment the
// stream stays direct and nothing is filtered.
#pragma once

#include <string_view>
#include <thread>

namespace bm7 {

// True for a line (without its newline) that a sound library wrote on its own.
bool isLibraryComplaint(std::string_view line);

class LibraryComplaintFilter {
public:
    LibraryComplaintFilter();
    ~LibraryComplaintFilter();
    LibraryComplaintFilter(const LibraryComplaintFilter&) = delete;
    LibraryComplaintFilter& operator=(const LibraryComplaintFilter&) = delete;

private:
    int realErrors_ = -1;
    int pipeWrite_ = -1;
    std::thread forwarder_;
};

}  // namespace bm7
