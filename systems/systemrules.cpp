#include "systemrules.h"

#include "datamodule.h"
#include "table.h"
#include "tablelock.h"

namespace qn::systemrules {
namespace {

// Opens the IP table on its address tag with the master link cleared, runs work, and always
// leaves it closed and linked by System ID again.
template <class Work> auto withAddressIndex(Table& ip, Work work) {
    struct Restore {
        Table& t;
        ~Restore() {
            t.close();
            t.setIndexName(QString());
            t.setFilter(QString());
            t.setFiltered(false);
            t.setMasterFields(QStringLiteral("SysID"));
        }
    } restore{ip};
    ip.setDatabaseName(QStringLiteral("IP"));
    ip.setTableName(QStringLiteral("IP.dbf"));
    ip.setMasterFields(QString());
    ip.setFilter(QString());
    ip.setFiltered(false);
    ip.setIndexName(QStringLiteral("IP"));
    ip.open();
    return work();
}

bool sameOctets(const Table& ip, const QStringList& octets) {
    for (int i = 0; i < 4; ++i)
        if (ip.fieldText(QStringLiteral("IP%1").arg(i + 1)) != octets.value(i))
            return false;
    return true;
}

// Several addresses can share a key (1.11.1.1 and 11.1.1.1 both give 11111): the tag finds the
// candidates, their four octets tell them apart.
bool seek(Table& ip, const QStringList& octets, uint32_t except) {
    const QString key = octets.join(QString());
    if (key.size() > ip.fieldWidth(QStringLiteral("IPString")))
        return false; // longer than any stored key
    ip.setKey();
    ip.setFieldText(QStringLiteral("IPString"), key);
    if (!ip.gotoKey())
        return false;
    for (; !ip.eof() && ip.fieldText(QStringLiteral("IPString")) == key; ip.next())
        if (ip.recNo() != except && sameOctets(ip, octets))
            return true;
    return false;
}

} // namespace

const QStringList& machineTypes() {
    static const QStringList types = {
        QStringLiteral("AAAA - Local Host"),       QStringLiteral("APPL - Apple machine"),
        QStringLiteral("LINX - Linux machine"),    QStringLiteral("NHUB - Network Hub"),
        QStringLiteral("OS2W - OS2 Warp machine"), QStringLiteral("PPCB - PowerPC board"),
        QStringLiteral("PRNT - Printer"),          QStringLiteral("SUNN - Sun machine"),
        QStringLiteral("UNIX - Other UNIX"),       QStringLiteral("WIND - Windows machine")};
    return types;
}

QString typeCode(const QString& entry) {
    return entry.left(4);
}

QString typeDescription(const QString& entry) {
    return entry.mid(7, 99);
}

QString descriptionOfCode(const QString& code) {
    for (const QString& e : machineTypes())
        if (typeCode(e) == code)
            return typeDescription(e);
    return QString();
}

qint64 idNumber(const QString& sysId) {
    qsizetype end = sysId.size();
    while (end > 0 && sysId[end - 1] == u' ')
        --end;
    qsizetype start = end;
    while (start > 0 && sysId[start - 1] >= u'0' && sysId[start - 1] <= u'9')
        --start;
    if (start == end)
        return -1;
    // Trailing digits beyond what a number holds are not produced by this program.
    return sysId.mid(start, std::min<qsizetype>(end - start, 18)).toLongLong();
}

QString formatId(const QString& prefix, qint64 number) {
    return prefix + QStringLiteral("%1").arg(number, 4, 10, QChar(u'0'));
}

QString nextSystemId(DataModule& dm, const QString& prefix) {
    dm.SysTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    struct Close {
        DataModule& dm;
        ~Close() { dm.SysTableOpenClose(QString(), QString(), false, false); }
    } close{dm};
    qint64 greatest = 0;
    Table& t = *dm.SysTable;
    for (t.first(); !t.eof(); t.next())
        greatest = std::max(greatest, idNumber(t.fieldText(QStringLiteral("SysID"))));
    return formatId(prefix, greatest + 1);
}

bool systemIdTaken(DataModule& dm, const QString& sysId) {
    dm.SysTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    struct Close {
        DataModule& dm;
        ~Close() { dm.SysTableOpenClose(QString(), QString(), false, false); }
    } close{dm};
    Table& t = *dm.SysTable;
    if (sysId.size() > t.fieldWidth(QStringLiteral("SysID")))
        return false;
    t.setKey();
    t.setFieldText(QStringLiteral("SysID"), sysId);
    return t.gotoKey();
}

QString recordSystem(DataModule& dm, const QString& prefix, const QString& shownId,
                     const std::function<void(const QString& id)>& writeRows) {
    // A table of its own keeps the file, and so the lock, while the module's table is
    // opened and closed inside.
    Table holder(dm.engine());
    holder.setDatabaseName(dm.SysTable->databaseName());
    holder.setTableName(dm.SysTable->tableName());
    holder.open();
    TableLock lock(holder);
    const QString id =
        shownId.isEmpty() || systemIdTaken(dm, shownId) ? nextSystemId(dm, prefix) : shownId;
    writeRows(id);
    return id;
}

QString asciiLower(const QString& s) {
    QString out = s;
    for (QChar& c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return out;
}

QString asciiUpper(const QString& s) {
    QString out = s;
    for (QChar& c : out)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    return out;
}

NameSuggestion suggestNames(const QString& first, const QString& last) {
    NameSuggestion n;
    n.computer = asciiLower(first.left(1) + last);
    n.alias1 = n.computer;
    n.alias2 = asciiLower(last);
    n.alias3 = asciiUpper(n.alias1);
    n.alias4 = asciiUpper(n.alias2);
    return n;
}

QString addressKey(const QString& ip1, const QString& ip2, const QString& ip3, const QString& ip4) {
    return ip1 + ip2 + ip3 + ip4;
}

bool addressRecorded(Table& ipTable, const QStringList& octets, uint32_t except) {
    return withAddressIndex(ipTable, [&] { return seek(ipTable, octets, except); });
}

int firstFreeHost(DataModule& dm, const QString& ip1, const QString& ip2, const QString& ip3) {
    Table& ip = *dm.IPTable;
    return withAddressIndex(ip, [&] {
        for (int n = 1; n <= 255; ++n)
            if (!seek(ip, {ip1, ip2, ip3, QString::number(n)}, 0))
                return n;
        return 0;
    });
}

} // namespace qn::systemrules
