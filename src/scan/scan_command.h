// `brakmoor7 scan`: finds the recordings under each PATH, analyses those no earlier scan
// finished on --jobs worker threads (each recording's result journaled as it finishes),
// then writes the tables in scan order and prints a summary. Exit status: 0 every
// recording analysed, 2 some had errors, 1 the scan could not run, 128 + the signal
// after SIGINT or SIGTERM.
#pragma once

namespace bm7::scan {

// argv[0] is "scan"; the options and PATHs follow.
int scanMain(int argc, char** argv);

}  // namespace bm7::scan
