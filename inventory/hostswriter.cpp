#include "hostswriter.h"

#include "codepage.h"
#include "error.h"
#include "table.h"

#include <QDir>
#include <QSaveFile>

namespace qn::hosts {

namespace {

// Writes the file a row at a time, so that a walk over the table need not keep the rows.
class Writer {
public:
    explicit Writer(const QString& productWord, qsizetype rows) {
        m_out.reserve(512 + rows * 96);
        for (const QString& l :
             {QStringLiteral("#"), QStringLiteral("#     Sun Host Database"), QStringLiteral("#"),
              QStringLiteral("#     This file was created by %1... Written by Orvell.")
                  .arg(productWord),
              QStringLiteral("#     %1 is an IP Address management program which").arg(productWord),
              QStringLiteral("#     allows you to export the IP list in a Sun HOSTS format."),
              QStringLiteral("#"), QStringLiteral("#")})
            put(l);
    }
    void row(const Row& r) {
        if (m_first || r.type != m_previous) {
            m_out += "#\r\n#\r\n#\r\n";
            put(QStringLiteral("#     ") + r.typeDesc);
            m_out += "#\r\n";
        }
        m_first = false;
        m_previous = r.type;
        m_line.clear();
        m_line += r.ip1 + u'.' + r.ip2 + u'.' + r.ip3 + u'.' + r.ip4;
        for (const QString& a : r.aliases) {
            m_line += QLatin1String("     ");
            m_line += a;
        }
        put(m_line);
    }
    QByteArray take() { return std::move(m_out); }

private:
    void put(const QString& l) {
        // Values come from the tables, so they are code page 1252 already.
        auto bytes = cp1252::encode(l);
        if (!bytes)
            throw Error(QStringLiteral("The hosts file cannot hold the line \"%1\".").arg(l));
        m_out.append(bytes->data(), qsizetype(bytes->size()));
        m_out += "\r\n";
    }
    QByteArray m_out;
    QString m_line;
    QString m_previous;
    bool m_first = true;
};

// Walks the table from its first row to its end, each row read once; nothing bound to the
// table follows the walk, it hears once where the table ended.
template <class Each> void walk(Table& t, Each each) {
    Table::HoldObservers hold(t);
    const std::vector<int> fields = {
        t.fieldIndex(QStringLiteral("IP1")),    t.fieldIndex(QStringLiteral("IP2")),
        t.fieldIndex(QStringLiteral("IP3")),    t.fieldIndex(QStringLiteral("IP4")),
        t.fieldIndex(QStringLiteral("Alias1")), t.fieldIndex(QStringLiteral("Alias2")),
        t.fieldIndex(QStringLiteral("Alias3")), t.fieldIndex(QStringLiteral("Alias4")),
        t.fieldIndex(QStringLiteral("Type")),   t.fieldIndex(QStringLiteral("TypeDesc"))};
    auto f = [&t](int field) { return t.fieldTextAt(field); };
    Row r;
    for (t.first(); !t.eof(); t.next()) {
        r.ip1 = f(fields[0]);
        r.ip2 = f(fields[1]);
        r.ip3 = f(fields[2]);
        r.ip4 = f(fields[3]);
        for (int i = 0; i < 4; ++i)
            r.aliases[i] = f(fields[size_t(4 + i)]);
        r.type = f(fields[8]);
        r.typeDesc = f(fields[9]);
        each(r);
    }
}

} // namespace

QList<Row> collect(Table& t) {
    QList<Row> rows;
    rows.reserve(t.recordCount());
    walk(t, [&rows](const Row& r) { rows.append(r); });
    return rows;
}

QByteArray render(const QList<Row>& rows, const QString& productWord) {
    Writer w(productWord, rows.size());
    for (const Row& r : rows)
        w.row(r);
    return w.take();
}

QByteArray renderTable(Table& t, const QString& productWord) {
    Writer w(productWord, t.recordCount());
    walk(t, [&w](const Row& r) { w.row(r); });
    return w.take();
}

QString filePath(const QString& databasePath) {
    return databasePath + QDir::separator() + QStringLiteral("hosts");
}

void write(const QString& databasePath, const QByteArray& contents) {
    const QString path = filePath(databasePath);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(
            QStringLiteral("Cannot write the hosts file %1: %2").arg(path, file.errorString()));
    if (file.write(contents) != contents.size() || !file.commit())
        throw Error(
            QStringLiteral("Cannot write the hosts file %1: %2").arg(path, file.errorString()));
}

} // namespace qn::hosts
