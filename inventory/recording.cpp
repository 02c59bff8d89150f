#include "recording.h"

#include "datamodule.h"
#include "error.h"
#include "session.h"
#include "systemrules.h"
#include "table.h"

#include <QDateTime>

namespace qn::systemrules {

QString octetRefusal(const QString& octet) {
    bool ok = false;
    const int value = octet.toInt(&ok);
    if (!ok || octet.contains(u'+') || octet.contains(u'-') || octet.contains(u' '))
        return QStringLiteral("\"%1\" is not a number: an address part is a number from 0 to "
                              "255.")
            .arg(octet);
    if (value > 255)
        return QStringLiteral("An IP Address CANNOT be over 255!");
    return QString();
}

QStringList companies(DataModule& dm) {
    Table::HoldObservers hold(*dm.SysTable); // its details need not follow the walk
    const TableSession sys(dm, dm.SysTable, &DataModule::SysTableOpenClose,
                           QStringLiteral("Company"));
    // The company tag yields each company once.
    QStringList names;
    for (sys->first(); !sys->eof(); sys->next())
        names << sys->fieldText(QStringLiteral("Company"));
    return names;
}

bool addressMovesOntoRecorded(Table& check, const Table& ip, const QStringList& octets) {
    const QString key =
        addressKey(octets.value(0), octets.value(1), octets.value(2), octets.value(3));
    return key != ip.fieldText(QStringLiteral("IPString")) &&
           addressRecorded(check, octets, ip.recNo());
}

void setAddressKeys(Table& ip, const QStringList& octets, const QString& typeCode) {
    ip.setFieldText(QStringLiteral("IPString"),
                    addressKey(octets.value(0), octets.value(1), octets.value(2), octets.value(3)));
    const QString desc = descriptionOfCode(typeCode);
    if (!desc.isNull())
        ip.setFieldText(QStringLiteral("TypeDesc"), desc);
}

QString writeSystem(DataModule& dm, const QString& prefix, const QString& shownId,
                    const SystemRecord& record) {
    return recordSystem(dm, prefix, shownId,
                        [&](const QString& id) { writeSystemRows(dm, id, record); });
}

// The systems row comes first: opening the systems table would make its detail, the IP table,
// post a row in progress.
void writeSystemRows(DataModule& dm, const QString& id, const SystemRecord& r) {
    const TableSession sysSession(dm, dm.SysTable, &DataModule::SysTableOpenClose, QString());
    Table& sys = *dm.SysTable;
    sys.append();
    try {
        sys.setFieldText(QStringLiteral("SysID"), id);
        sys.setFieldText(QStringLiteral("Company"), r.company);
        sys.setFieldText(QStringLiteral("UserFirst"), r.userFirst);
        sys.setFieldText(QStringLiteral("UserLast"), r.userLast);
        sys.setFieldText(QStringLiteral("Phone"), r.phone);
        sys.setFieldText(QStringLiteral("PH_EXT"), r.extension);
        sys.setFieldText(QStringLiteral("Location"), r.location);
        sys.setFieldText(QStringLiteral("Room"), r.room);
        sys.setFieldText(QStringLiteral("Security"), r.security);
        sys.setFieldDateTime(QStringLiteral("Date"), QDateTime::currentDateTime());
    } catch (...) {
        sys.cancel();
        throw;
    }
    const TableSession ipSession(dm, dm.IPTable, &DataModule::IPTableOpenClose, QString());
    Table& ip = *dm.IPTable;
    ip.append();
    try {
        ip.setFieldText(QStringLiteral("SysID"), id);
        ip.setFieldText(QStringLiteral("Computer"), r.computer);
        ip.setFieldText(QStringLiteral("IP1"), r.ip1);
        ip.setFieldText(QStringLiteral("IP2"), r.ip2);
        ip.setFieldText(QStringLiteral("IP3"), r.ip3);
        ip.setFieldText(QStringLiteral("IP4"), r.ip4);
        ip.setFieldText(QStringLiteral("IPString"), addressKey(r.ip1, r.ip2, r.ip3, r.ip4));
        ip.setFieldText(QStringLiteral("Alias1"), r.alias1);
        ip.setFieldText(QStringLiteral("Alias2"), r.alias2);
        ip.setFieldText(QStringLiteral("Alias3"), r.alias3);
        ip.setFieldText(QStringLiteral("Alias4"), r.alias4);
        ip.setFieldText(QStringLiteral("Type"), typeCode(r.typeEntry));
        ip.setFieldText(QStringLiteral("TypeDesc"), typeDescription(r.typeEntry));
    } catch (...) {
        ip.cancel();
        sys.cancel();
        throw;
    }
    ip.post();
    sys.post();
}

const QStringList& hardwareFields() {
    static const QStringList fields = {QStringLiteral("Desc"), QStringLiteral("Manuf"),
                                       QStringLiteral("Model"), QStringLiteral("SerialNum")};
    return fields;
}

const QStringList& softwareFields() {
    static const QStringList fields = {QStringLiteral("Desc"), QStringLiteral("Manuf"),
                                       QStringLiteral("LicenseKey"), QStringLiteral("SerialNum")};
    return fields;
}

void checkItemFits(const Table& items, const QStringList& fields, const QStringList& values) {
    for (int i = 0; i < fields.size(); ++i)
        if (values[i].size() > items.fieldWidth(fields[i]))
            throw Error(QStringLiteral("\"%1\" is longer than the field %2 holds (%3).")
                            .arg(values[i], fields[i])
                            .arg(items.fieldWidth(fields[i])));
}

void storeItem(Table& items, const QStringList& fields, const QStringList& values,
               const QString& id) {
    items.append();
    try {
        items.setFieldText(QStringLiteral("SysID"), id);
        for (int i = 0; i < fields.size(); ++i)
            items.setFieldText(fields[i], values[i]);
        items.post();
    } catch (...) {
        items.cancel();
        throw;
    }
}

} // namespace qn::systemrules
