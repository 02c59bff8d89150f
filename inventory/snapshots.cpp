#include "snapshots.h"

namespace qn::snapshots {

// Placeholder until snapshots are written: nothing is copied yet.
QString takeBeforeBulkChange(DataModule&, const QString&) {
    return {};
}

} // namespace qn::snapshots
