#include "systemrules.h"

#include "datamodule.h"
#include "session.h"
#include "table.h"
#include "tablelock.h"

namespace qn::systemrules {
namespace {

// Opens the IP table on its address tag with the master link cleared, runs work, and always
// leaves it closed and linked by System ID again.
template <class Work> auto withAddressIndex(Table& ip, Work work) {
    // Nothing bound to the table hears about the lookups; it hears once that it closed.
    Table::HoldObservers hold(ip);
    ip.setDatabaseName(QStringLiteral("IP"));
    ip.setTableName(QStringLiteral("IP.dbf"));
    const TableSession session(ip, QStringLiteral("IP"), QStringLiteral("SysID"));
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

namespace {

const QString kSysId = QStringLiteral("SysID");

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The ID without its trailing digits.
QString stemOf(const QString& id) {
    qsizetype end = id.size();
    while (end > 0 && isDigit(id[end - 1]))
        --end;
    return id.left(end);
}

// Moves to the first ID at or after id in the SysID tag.
bool atOrAfter(Table& t, const QString& id) {
    t.setKey();
    t.setFieldText(kSysId, id);
    return t.gotoNearest();
}

// Moves to the last ID at or before id in the SysID tag.
bool atMost(Table& t, const QString& id) {
    if (!atOrAfter(t, id)) {
        t.last();
        return t.recNo() != 0;
    }
    if (t.fieldText(kSysId) == id)
        return true;
    t.prior();
    return !t.bof();
}

// One less, keeping the number of digits; false for all zeros.
bool decrement(QString& digits) {
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        if (digits[i] != u'0') {
            digits[i] = QChar(digits[i].unicode() - 1);
            return true;
        }
        digits[i] = u'9';
    }
    return false;
}

// The number of the greatest ID stem + d digits whose digits start with head (no key of
// the wrong length can sit between stem + head + "0" and stem + head + "9" but longer ones).
qint64 greatestUnder(Table& t, const QString& stem, const QString& head, int d) {
    if (!atMost(t, stem + head + QString(d - head.size(), u'9')))
        return -1;
    const QString c = t.fieldText(kSysId);
    if (!c.startsWith(stem + head) || c.size() != stem.size() + d)
        return -1;
    return systemrules::idNumber(c);
}

// Where many shorter IDs sit above the longest ones (QN10000 sorts below QN9999), the
// greatest d-digit number is found by its first d - 1 digits: ranges of numbers are handed
// out from 1 upwards, so the heads that have d-digit IDs under them come first.
qint64 greatestByHeads(Table& t, const QString& stem, int d) {
    if (d < 2 || d > 18)
        return -1;
    qint64 lo = 1;
    for (int i = 0; i < d - 2; ++i)
        lo *= 10;
    qint64 hi = lo * 10 - 1;
    if (d == 2)
        lo = 0;
    qint64 best = -1;
    while (lo <= hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        const qint64 n =
            greatestUnder(t, stem, QStringLiteral("%1").arg(mid, d - 1, 10, QChar(u'0')), d);
        if (n >= 0) {
            best = n;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return best;
}

// The greatest number of the IDs stem + exactly d digits, or -1. Walks down from
// stem + "99…9", stepping over the IDs of other lengths that sort in between.
qint64 greatestOfLength(Table& t, const QString& stem, int d) {
    QString bound = stem + QString(d, u'9');
    for (int step = 0; step < 32; ++step) {
        if (!atMost(t, bound))
            return -1;
        const QString c = t.fieldText(kSysId);
        if (!c.startsWith(stem))
            return -1;
        const QString tail = c.mid(stem.size());
        int j = 0;
        while (j < tail.size() && j < d && isDigit(tail[j]))
            ++j;
        if (j == d) {
            if (tail.size() == d)
                return systemrules::idNumber(c);
            bound = stem + tail.left(d); // a longer ID: its first d digits may be stored
        } else if (j < tail.size() && tail[j] > u'9') {
            bound = stem + tail.left(j) + QString(d - j, u'9');
        } else {
            // A shorter ID (or a smaller character after the digits): what is left sorts
            // below its digits.
            QString head = tail.left(j);
            if (!decrement(head))
                return -1;
            bound = stem + head + QString(d - j, u'9');
        }
    }
    return greatestByHeads(t, stem, d);
}

} // namespace

QString nextSystemId(DataModule& dm, const QString& prefix) {
    Table& t = *dm.SysTable;
    Table::HoldObservers hold(t);
    const TableSession session(dm, dm.SysTable, &DataModule::SysTableOpenClose, kSysId);
    // Each stem (an ID without its trailing digits, a prefix) is visited once, by seeking
    // past all its IDs; within a stem each length of number is looked up from the top.
    const int width = t.fieldWidth(kSysId);
    qint64 greatest = 0;
    t.first();
    bool have = t.recNo() != 0;
    while (have) {
        const QString stem = stemOf(t.fieldText(kSysId));
        for (int d = 1; d <= width - stem.size(); ++d)
            greatest = std::max(greatest, greatestOfLength(t, stem, d));
        const QString past = stem + QString(width - stem.size(), u'9');
        have = atOrAfter(t, past);
        while (have && t.fieldText(kSysId) == past) {
            t.next();
            have = !t.eof();
        }
    }
    // Numbers handed out with gaps can hide a greater one from the search by heads; the ID
    // given is at least never one that is stored.
    QString id = formatId(prefix, greatest + 1);
    for (;;) {
        if (id.size() > width)
            break;
        t.setKey();
        t.setFieldText(kSysId, id);
        if (!t.gotoKey())
            break;
        id = formatId(prefix, ++greatest + 1);
    }
    return id;
}

bool systemIdTaken(DataModule& dm, const QString& sysId) {
    const TableSession session(dm, dm.SysTable, &DataModule::SysTableOpenClose,
                               QStringLiteral("SysID"));
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
    // 255 key lookups at most; withAddressIndex holds the table's observers.
    Table& ip = *dm.IPTable;
    return withAddressIndex(ip, [&] {
        for (int n = 1; n <= 255; ++n)
            if (!seek(ip, {ip1, ip2, ip3, QString::number(n)}, 0))
                return n;
        return 0;
    });
}

} // namespace qn::systemrules
