// Rows for the clips a kill left without one. A clip is saved before its row is written,
// so a run stopped between the two leaves a clip that the table does not name; the next
// start gives each such clip a row, so that no detection is lost from the table.
#pragma once

#include <string>
#include <vector>

#include "station/detection_table.h"

namespace bm7::station {

struct ClipNaming {
    std::string folder;
    std::string prefix;
    std::string extension;  // with its dot
    bool utc = true;        // whether calendar stamps are in UTC, as the table's times are
};

// Rows, oldest clip first, for the clips in the folder that were modified after the
// table's last row and that no row names. The last row's time is that of the last clip a
// row names, or the table's own when that clip is gone: a write cut back on a full disk
// touches the table after clips whose rows wait. A row's date-time comes from the clip's
// calendar stamp (empty for a stream stamp); its other cells but the clip are empty. No
// rows for a table that did not exist: it has no last row to be newer than.
std::vector<TableRow> rowsForUnlistedClips(const ClipNaming& naming, const TableFound& table);

}  // namespace bm7::station
