#include "hostswriter.h"

#include "codepage.h"
#include "error.h"
#include "table.h"

#include <QDir>
#include <QSaveFile>

namespace qn::hosts {

QList<Row> collect(Table& t) {
    QList<Row> rows;
    // Each row is read once, in the table's order; nothing bound to the table follows the
    // walk, it hears once where the table ended.
    Table::HoldObservers hold(t);
    const std::vector<int> fields = {
        t.fieldIndex(QStringLiteral("IP1")),    t.fieldIndex(QStringLiteral("IP2")),
        t.fieldIndex(QStringLiteral("IP3")),    t.fieldIndex(QStringLiteral("IP4")),
        t.fieldIndex(QStringLiteral("Alias1")), t.fieldIndex(QStringLiteral("Alias2")),
        t.fieldIndex(QStringLiteral("Alias3")), t.fieldIndex(QStringLiteral("Alias4")),
        t.fieldIndex(QStringLiteral("Type")),   t.fieldIndex(QStringLiteral("TypeDesc"))};
    rows.reserve(t.recordCount());
    auto f = [&t](int field) { return t.fieldTextAt(field); };
    for (t.first(); !t.eof(); t.next())
        rows.append(Row{f(fields[0]),
                        f(fields[1]),
                        f(fields[2]),
                        f(fields[3]),
                        {f(fields[4]), f(fields[5]), f(fields[6]), f(fields[7])},
                        f(fields[8]),
                        f(fields[9])});
    return rows;
}

QByteArray render(const QList<Row>& rows, const QString& productWord) {
    QByteArray out;
    out.reserve(512 + rows.size() * 96);
    QString line;
    const auto put = [&out](const QString& l) {
        // Values come from the tables, so they are code page 1252 already.
        auto bytes = cp1252::encode(l);
        if (!bytes)
            throw Error(QStringLiteral("The hosts file cannot hold the line \"%1\".").arg(l));
        out.append(bytes->data(), qsizetype(bytes->size()));
        out += "\r\n";
    };
    for (const QString& l :
         {QStringLiteral("#"), QStringLiteral("#     Sun Host Database"), QStringLiteral("#"),
          QStringLiteral("#     This file was created by %1... Written by Orvell.")
              .arg(productWord),
          QStringLiteral("#     %1 is an IP Address management program which").arg(productWord),
          QStringLiteral("#     allows you to export the IP list in a Sun HOSTS format."),
          QStringLiteral("#"), QStringLiteral("#")})
        put(l);
    bool first = true;
    QString previous;
    for (const Row& r : rows) {
        if (first || r.type != previous) {
            out += "#\r\n#\r\n#\r\n";
            put(QStringLiteral("#     ") + r.typeDesc);
            out += "#\r\n";
        }
        first = false;
        previous = r.type;
        line.clear();
        line += r.ip1 + u'.' + r.ip2 + u'.' + r.ip3 + u'.' + r.ip4;
        for (const QString& a : r.aliases) {
            line += QLatin1String("     ");
            line += a;
        }
        put(line);
    }
    return out;
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
