#pragma once

#include <QString>
#include <QStringList>

namespace qn {

class DataModule;
class Table;

/// One new system as the user entered it: the texts as typed, the machine type as its list
/// entry ("CODE - Description", or empty).
struct SystemRecord {
    QString company, userFirst, userLast, phone, extension, location, room, security;
    QString computer, ip1, ip2, ip3, ip4, alias1, alias2, alias3, alias4;
    QString typeEntry;
};

namespace systemrules {

/// Why a typed address part cannot be stored (not a number, or over 255); empty when it can.
QString octetRefusal(const QString& octet);

/// The companies of the stored systems, each once, in the order of the Company tag. Opens and
/// closes the systems table.
QStringList companies(DataModule& dm);

/// Records a system (recordSystem: under the systems table's lock, keeping shownId while it is
/// free) with its systems row and its IP row. Returns the ID used.
QString writeSystem(DataModule& dm, const QString& prefix, const QString& shownId,
                    const SystemRecord& record);
/// The two rows of a system under id, without the lock. Both are filled before either is
/// posted, so a value one of them refuses leaves neither behind.
void writeSystemRows(DataModule& dm, const QString& id, const SystemRecord& record);

/// Whether octets, typed over the address row ip stands on, are an address another row
/// records; check is a table of its own for the lookup. Keeping the row's own address is no
/// clash.
bool addressMovesOntoRecorded(Table& check, const Table& ip, const QStringList& octets);
/// Sets the fields of the address row being edited that follow its boxes: the address key from
/// octets, and the type's description when typeCode is a known code.
void setAddressKeys(Table& ip, const QStringList& octets, const QString& typeCode);

/// The fields a hardware or software item is entered with, in the order of the entry boxes.
const QStringList& hardwareFields();
const QStringList& softwareFields();
/// Refuses (Error) an item with a value longer than its field holds, as the table would.
void checkItemFits(const Table& items, const QStringList& fields, const QStringList& values);
/// Appends one item row of system id to items; nothing is left half written.
void storeItem(Table& items, const QStringList& fields, const QStringList& values,
               const QString& id);

} // namespace systemrules
} // namespace qn
