#include "datamodule.h"
#include "hostswriter.h"
#include "session.h"
#include "table.h"

namespace qn::hosts {

void createFile(DataModule& dm, const QString& databasePath) {
    Table::HoldObservers hold(*dm.IPTable); // bound to it are only hidden windows
    const TableSession ip(dm, dm.IPTable, &DataModule::IPTableOpenClose, QStringLiteral("Type"));
    write(databasePath, renderTable(*ip, QLatin1String(kCreateWord)));
}

} // namespace qn::hosts
