#include "listing.h"

#include "codepage.h"
#include "error.h"

#include <QFile>
#include <QFileInfo>

namespace qn::discovery {

namespace {
constexpr int headingLines = 4;
}

QString Listing::cutName(const QString& line) {
    const qsizetype space = line.indexOf(u' ');
    // The name starts at index 2; a space at index 2 or earlier leaves nothing.
    if (space <= 2)
        return QString();
    return line.mid(2, space - 2);
}

bool Listing::isClosingLine(const QString& line) {
    return cutName(line) == QLatin1String("e");
}

QStringList Listing::parse(const QByteArray& bytes) {
    QStringList names;
    qsizetype pos = 0;
    int lineNo = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        qsizetype len = end - pos;
        if (len > 0 && bytes.at(end - 1) == '\r')
            --len;
        ++lineNo;
        if (lineNo > headingLines) {
            const QString line =
                cp1252::decode(std::string_view(bytes.constData() + pos, size_t(len)));
            if (isClosingLine(line))
                break;
            names.append(cutName(line));
        }
        pos = next;
    }
    return names;
}

QStringList Listing::readFile(const QString& path) {
    return parse(readBytes(path));
}

QByteArray Listing::readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path))
            throw Error(QStringLiteral("File not found: %1").arg(path));
        throw Error(file.errorString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(file.errorString());
    return bytes;
}

} // namespace qn::discovery
