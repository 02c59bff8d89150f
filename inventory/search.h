#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <string>

namespace qn {

class DataModule;

/// Finding one system by one of six criteria.
namespace search {

enum Criterion { None = -1, IPAddress, Alias, OfficeNumber, ComputerName, UserName, SysID };

/// The prompt above the value list, "Enter ... to search for...".
QString prompt(Criterion c);

/// Every value stored for the criterion, for the list to choose from: addresses dotted, each
/// non-empty alias, "First Last" names once per run of equal names; sorted ignoring letter
/// case, addresses and System IDs by their numbers. Opens and closes the data module's DummyTable.
QStringList values(DataModule& dm, Criterion c);

/// A key whose bytes sort as people expect: letter case ignored, numbers by their value
/// (10.0.0.2 before 10.0.0.10, QN2 before QN10).
std::string numericKey(const QString& value);

/// The key an "IP Address" value is looked up by: the value without its first three dots.
QString addressKey(const QString& value);
/// First and last name of a "User Name" value, split at its first space.
QPair<QString, QString> nameHalves(const QString& value);

/// The filter on the systems table that selects what value finds: the one system, or for a
/// user name every system of that user. A null string when nothing is found. Leaves
/// DummyTable closed.
QString find(DataModule& dm, Criterion c, const QString& value);
/// What the user is told when find() finds nothing.
QString notFoundMessage(Criterion c);

/// Opens the tables System Info shows on the systems the filter selects: systems filtered,
/// the address, hardware and software tables as their details.
void openForSystemInfo(DataModule& dm, const QString& systemsFilter);

} // namespace search
} // namespace qn
