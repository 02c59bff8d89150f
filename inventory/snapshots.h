#pragma once

#include <QString>

namespace qn {
class DataModule;
}

namespace qn::snapshots {

/// Before a bulk change (an import, an Auto-Find Add of several computers): copies the
/// inventory's tables and their production indexes into a new dated folder inside the database
/// folder, holding the tables' write locks so that the copy is one consistent moment, and
/// removes the oldest snapshots beyond the number kept. Returns the new folder's path. Throws
/// qn::Error when the copy cannot be made; the bulk change must not go ahead then.
QString takeBeforeBulkChange(DataModule& data, const QString& reason);

} // namespace qn::snapshots
