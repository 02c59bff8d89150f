#pragma once

#include <QString>
#include <QStringList>

namespace qn {

class Table;

namespace pool {

/// The fixed entries of the add group's lists, in list order.
QStringList mainKinds();
QStringList subCategories();

/// The order of the sorted lists: letters without regard to case, hyphens and apostrophes
/// ignored (so "CDROM" comes before "CD-RW"), then the plain text to keep distinct values apart.
bool listsBefore(const QString& a, const QString& b);

enum class Kind { Hardware, Software, Neither };
/// The item table a resource with this MAIN belongs in.
Kind kindOf(const QString& main);

/// Writes the item fields that correspond to the current pool row into the row being appended
/// to items: ITEM into DESC, MDL_LIC into MODEL or LICENSEKEY, SERIAL into SERIALNUM, PART,
/// MANUF and CATEGORY as they are, and the System ID.
void fillItem(const Table& pool, Table& items, Kind kind, const QString& sysId);

} // namespace pool
} // namespace qn
