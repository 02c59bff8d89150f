#pragma once

#include <QList>
#include <QString>

namespace qn {

class DataModule;
class Table;

/// The address list as a hosts file in the Sun HOSTS layout, grouped by machine type.
namespace hosts {

struct Row {
    QString ip1, ip2, ip3, ip4;
    QString aliases[4];
    QString type, typeDesc;
};

/// The word the header names the program by: the menu's Create and the view's Export differ.
inline const char* const kCreateWord = "Quillnet";
inline const char* const kExportWord = "Brindle";

/// Every row of an open table from its first row to its end, in the table's order. The table
/// is left past its last row.
QList<Row> collect(Table& ipTable);

/// The whole file: eight header lines, then per row a heading of five lines whenever the type
/// changes, then the address line. Code page 1252, CR LF after every line.
QByteArray render(const QList<Row>& rows, const QString& productWord);

/// render(collect(ipTable)) without keeping the rows: the file straight from a walk of the
/// table, each row read once. The table is left past its last row.
QByteArray renderTable(Table& ipTable, const QString& productWord);

/// The file's path in a database folder.
QString filePath(const QString& databasePath);

/// Replaces the hosts file of a database folder only once the new one is complete; on any
/// failure the old file stays and Error says why.
void write(const QString& databasePath, const QByteArray& contents);

/// The hosts file of the whole inventory, ordered by machine type, written into the database
/// folder (the menu's Create). Opens and closes the IP table.
void createFile(DataModule& dm, const QString& databasePath);

} // namespace hosts
} // namespace qn
