// `brakmoor7 report CLIPDIR`: the review report of a live run's clip folder, built from
// its detection table and its clips, so a station's day is reviewed like a scan.
#pragma once

namespace bm7::report {

// argv[0] is "report". Returns 0 when the report was written, 2 when it was written but
// some clips could not be read, 1 when it could not be made.
int reportMain(int argc, char** argv);

}  // namespace bm7::report
