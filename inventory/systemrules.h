#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace qn {

class DataModule;
class Table;

/// The rules behind recording a system, kept apart from the windows that apply them.
namespace systemrules {

/// The ten machine-type entries of the type list, "CODE - Description".
const QStringList& machineTypes();
/// The four-letter code and the description of an entry; both empty for no entry.
QString typeCode(const QString& entry);
QString typeDescription(const QString& entry);
/// The description stored for a code, or a null string for a code that is not in the list.
QString descriptionOfCode(const QString& code);

/// The number a System ID ends with (its trailing digits), or -1 when it ends with none.
qint64 idNumber(const QString& sysId);
/// prefix followed by number, padded with zeros to at least four digits.
QString formatId(const QString& prefix, qint64 number);
/// The next System ID: one more than the greatest number any stored System ID ends with, so
/// that neither a new prefix nor numbers past 9999 can repeat an ID. Opens and closes the
/// systems table.
QString nextSystemId(DataModule& dm, const QString& prefix);
/// True when a system with this ID is stored. Opens and closes the systems table.
bool systemIdTaken(DataModule& dm, const QString& sysId);
/// Records a system under the systems table's lock, so that no other process (another
/// administrator) can take the same ID in between: keeps shownId while it is still free (an
/// empty one counts as taken), else takes nextSystemId(); then writeRows(id) appends the rows
/// through the data module's tables. Returns the ID used. Throws StoreError "table busy" when
/// another process keeps the table locked; an error from writeRows passes through.
QString recordSystem(DataModule& dm, const QString& prefix, const QString& shownId,
                     const std::function<void(const QString& id)>& writeRows);

/// Computer name and aliases proposed from the user's name.
struct NameSuggestion {
    QString computer, alias1, alias2, alias3, alias4;
};
NameSuggestion suggestNames(const QString& first, const QString& last);
QString asciiLower(const QString& s);
QString asciiUpper(const QString& s);

/// The address key: the four octet texts as typed, joined.
QString addressKey(const QString& ip1, const QString& ip2, const QString& ip3, const QString& ip4);

/// Whether the address of these four octets is recorded: candidates come from the IP table's
/// IP tag (the joined key), then their octets are compared. except, when non-zero, is a record
/// to ignore (the row being edited). ipTable is opened on the tag and left closed, linked to
/// its master again.
bool addressRecorded(Table& ipTable, const QStringList& octets, uint32_t except = 0);

/// The first of 1..255 that, after the first three octets, makes an address not yet
/// recorded; 0 when every one is taken.
int firstFreeHost(DataModule& dm, const QString& ip1, const QString& ip2, const QString& ip3);

} // namespace systemrules
} // namespace qn
