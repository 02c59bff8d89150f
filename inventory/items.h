#pragma once

#include "poolrules.h"

#include <QString>
#include <QStringList>

namespace qn {

class DataModule;
class Table;

namespace pool {

/// A resource as entered in the pool's add group.
struct Resource {
    QString main, category, item, serial, part, model, manufacturer;
};

/// Appends a resource to the open pool table. A value longer than its field refuses the whole
/// resource (Error naming the box) rather than storing it cut short.
void addResource(Table& pool, const Resource& resource);

/// The distinct non-empty values of a pool field, in the order of the field's tag. Opens and
/// closes the pool table.
QStringList fieldValues(DataModule& dm, const QString& field);

/// Every System ID in the order of the systems table's SysID tag; a window holding that table
/// open keeps its row.
QStringList systemIds(DataModule& dm);

/// Gives the pool's current row to system sysId as an item of kind (Hardware or Software) and
/// takes it out of the pool. When the pool row cannot be deleted the new item is deleted again:
/// a resource is never in two places at once. On an error before that, it stays in the pool.
void giveToSystem(DataModule& dm, Table& pool, Kind kind, const QString& sysId);

/// Writes the pool fields that correspond to the items table's current row (hardware or
/// software by kind) into the pool row being appended: the inverse of fillItem.
void fillPoolRow(const Table& items, Table& pool, Kind kind);

/// Puts a copy of the items table's current row back into the pool (the item itself stays).
/// Opens and closes the pool table.
void returnToPool(DataModule& dm, const Table& items, Kind kind);

} // namespace pool
} // namespace qn
