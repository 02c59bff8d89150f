#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace qn {

class DataModule;
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

/// One of the data module's shared tables, opened for one short piece of work and closed after.
/// When another window already holds that table open, the work goes through a private table
/// over the same file instead, so the other window's table keeps its row, order and filter.
class BorrowedTable {
public:
    using OpenClose = void (DataModule::*)(const QString&, const QString&, bool, bool);
    BorrowedTable(DataModule& dm, Table* shared, OpenClose openClose, const QString& index);
    ~BorrowedTable();
    BorrowedTable(const BorrowedTable&) = delete;
    BorrowedTable& operator=(const BorrowedTable&) = delete;

    Table& operator*() const { return *m_table; }
    Table* operator->() const { return m_table; }
    /// Whether the work goes through a private table.
    bool isPrivate() const { return m_own != nullptr; }

private:
    DataModule& m_dm;
    OpenClose m_openClose;
    std::unique_ptr<Table> m_own;
    Table* m_table;
};

} // namespace pool
} // namespace qn
