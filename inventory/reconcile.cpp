#include "reconcile.h"

#include "codepage.h"
#include "datamodule.h"
#include "error.h"
#include "newcomputers.h"
#include "recording.h"
#include "resolver.h"
#include "systemrules.h"
#include "table.h"

#include <algorithm>
#include <optional>

namespace qn::reconcile {
namespace {

const QStringList kOctetFields = {QStringLiteral("IP1"), QStringLiteral("IP2"),
                                  QStringLiteral("IP3"), QStringLiteral("IP4")};

QString joined(const QStringList& octets) {
    for (const QString& o : octets)
        if (!o.isEmpty())
            return octets.join(u'.');
    return QString();
}

// A table of its own over IP.DBF: no master link, no tag, and the windows' table keeps its row.
struct OwnIpTable {
    explicit OwnIpTable(DataModule& dm) : table(dm.engine()) {
        table.setDatabaseName(dm.IPTable->databaseName());
        table.setTableName(dm.IPTable->tableName());
        table.open();
    }
    Table table;
};

} // namespace

QByteArray nameKey(const QString& name) {
    const std::optional<std::string> bytes = cp1252::encode(name);
    if (!bytes)
        return QByteArray();
    QByteArray key(bytes->data(), qsizetype(bytes->size()));
    while (key.endsWith(' '))
        key.chop(1);
    for (char& c : key)
        c = char(cp1252::toUpper(static_cast<unsigned char>(c)));
    return key;
}

bool sameAddress(const QString& recorded, const QString& found) {
    const QString a = discovery::Resolver::dottedDecimal(recorded);
    return !a.isEmpty() ? a == discovery::Resolver::dottedDecimal(found) : recorded == found;
}

Reconciliation::Reconciliation(const QStringList& listed, const QStringList& addresses) {
    for (qsizetype k = 0; k < listed.size(); ++k) {
        const QByteArray key = nameKey(listed[k]);
        if (key.isEmpty())
            continue;
        auto it = m_index.find(key);
        if (it == m_index.end()) {
            it = m_index.insert(key, m_names.size());
            m_names.push_back(Name{listed[k], {}, State::Pending, {}});
        }
        if (!addresses.value(k).isEmpty())
            found(listed[k], addresses[k]);
    }
}

void Reconciliation::take(RecordedRow&& row) {
    const QByteArray key = nameKey(row.computer);
    if (key.isEmpty())
        return;
    if (const auto it = m_index.constFind(key); it != m_index.cend()) {
        m_names[*it].rows.push_back(m_rows.size());
        m_rows.push_back(std::move(row));
    } else {
        // Field widths keep the sizes under 256.
        m_silent.push_back(Packed{row.recNo, uint8_t(row.sysId.size()),
                                  uint8_t(row.computer.size()),
                                  row.sysId + row.computer + row.address});
    }
}

RecordedRow Reconciliation::silentRow(qsizetype i) const {
    const Packed& p = m_silent[size_t(i)];
    return RecordedRow{p.recNo, p.texts.left(p.sysIdSize), p.texts.mid(p.sysIdSize, p.computerSize),
                       p.texts.mid(p.sysIdSize + p.computerSize)};
}

void Reconciliation::read(DataModule& dm) {
    m_rows.clear();
    m_silent.clear();
    for (Name& n : m_names)
        n.rows.clear();
    m_dirty = true;
    OwnIpTable own(dm);
    Table& ip = own.table;
    const int sysId = ip.fieldIndex(QStringLiteral("SysID"));
    const int computer = ip.fieldIndex(QStringLiteral("Computer"));
    int octet[4];
    for (int i = 0; i < 4; ++i)
        octet[i] = ip.fieldIndex(kOctetFields[i]);
    for (ip.first(); !ip.eof(); ip.next())
        take(RecordedRow{ip.recNo(), ip.fieldTextAt(sysId), ip.fieldTextAt(computer),
                         joined({ip.fieldTextAt(octet[0]), ip.fieldTextAt(octet[1]),
                                 ip.fieldTextAt(octet[2]), ip.fieldTextAt(octet[3])})});
    m_silent.shrink_to_fit();
}

QStringList Reconciliation::toResolve() const {
    QStringList out;
    for (const Name& n : m_names)
        if (n.state == State::Pending && !n.rows.empty())
            out << n.shown;
    return out;
}

void Reconciliation::found(const QString& name, const QString& address) {
    const auto it = m_index.constFind(nameKey(name));
    if (it == m_index.cend() || address.isEmpty())
        return;
    Name& n = m_names[*it];
    n.state = State::Found;
    if (!n.found.contains(address))
        n.found << address;
    m_dirty = true;
}

void Reconciliation::notFound(const QString& name) {
    const auto it = m_index.constFind(nameKey(name));
    if (it != m_index.cend() && m_names[*it].state == State::Pending)
        m_names[*it].state = State::Unresolved;
}

QStringList Reconciliation::unresolved() const {
    QStringList out;
    for (const Name& n : m_names)
        if (n.state == State::Unresolved && !n.rows.empty())
            out << n.shown;
    return out;
}

const std::vector<Finding>& Reconciliation::changed() const {
    if (!m_dirty)
        return m_changed;
    m_changed.clear();
    for (const Name& n : m_names) {
        if (n.state != State::Found)
            continue;
        const bool matches = std::any_of(n.rows.begin(), n.rows.end(), [&](size_t r) {
            return std::any_of(n.found.begin(), n.found.end(),
                               [&](const QString& a) { return sameAddress(m_rows[r].address, a); });
        });
        if (!matches)
            for (size_t r : n.rows)
                m_changed.push_back(Finding{m_rows[r], n.found.first()});
    }
    m_dirty = false;
    return m_changed;
}

void Reconciliation::addressUpdated(uint32_t recNo, const QString& address) {
    for (RecordedRow& row : m_rows)
        if (row.recNo == recNo) {
            row.address = address;
            m_dirty = true;
        }
}

UpdateOutcome updateAddress(DataModule& dm, const Finding& changed) {
    const discovery::Octets o = discovery::Octets::split(changed.found);
    const QStringList octets{o.ip1, o.ip2, o.ip3, o.ip4};
    for (const QString& part : octets)
        if (const QString why = systemrules::octetRefusal(part); !why.isEmpty())
            throw Error(why);
    OwnIpTable own(dm);
    Table& ip = own.table;
    // The row must still be the one the user chose from.
    if (!ip.gotoBookmark({changed.row.recNo, {}}) ||
        nameKey(ip.fieldText(QStringLiteral("Computer"))) != nameKey(changed.row.computer) ||
        ip.fieldText(QStringLiteral("SysID")) != changed.row.sysId)
        return UpdateOutcome::Moved;
    QStringList stored;
    for (const QString& f : kOctetFields)
        stored << ip.fieldText(f);
    if (joined(stored) != changed.row.address)
        return UpdateOutcome::Moved;
    Table check(dm.engine());
    if (systemrules::addressMovesOntoRecorded(check, ip, octets))
        return UpdateOutcome::Taken;
    ip.edit();
    try {
        for (int i = 0; i < 4; ++i)
            ip.setFieldText(kOctetFields[i], octets[i]);
        systemrules::setAddressKeys(ip, octets, ip.fieldText(QStringLiteral("Type")));
        ip.post();
    } catch (...) {
        ip.cancel();
        throw;
    }
    return UpdateOutcome::Updated;
}

} // namespace qn::reconcile
