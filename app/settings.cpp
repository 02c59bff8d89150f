#include "settings.h"

#include "codepage.h"
#include "error.h"

#include <QFile>
#include <QSaveFile>
#include <string_view>

namespace qn::settings {
namespace {

constexpr char kEndOfFile = 26;

// Line-by-line reading of an 8-bit text file: a line ends at CR (a following LF is part of the
// line end); a lone LF does not end a line; character 26 ends the file.
class LineReader {
public:
    explicit LineReader(QByteArray bytes) : m_bytes(std::move(bytes)) {
        qsizetype eof = m_bytes.indexOf(kEndOfFile);
        if (eof >= 0)
            m_bytes.truncate(eof);
    }
    bool atEnd() const { return m_pos >= m_bytes.size(); }
    QString readLine() {
        if (atEnd())
            return {};
        qsizetype cr = m_bytes.indexOf('\r', m_pos);
        qsizetype end = cr < 0 ? m_bytes.size() : cr;
        std::string_view text(m_bytes.constData() + m_pos, size_t(end - m_pos));
        m_pos = end;
        if (cr >= 0) {
            ++m_pos;
            if (m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                ++m_pos;
        }
        return cp1252::decode(text);
    }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

const char* const kBoxNames[10] = {"database folder",
                                   "System ID prefix",
                                   "company name",
                                   "company address",
                                   "city",
                                   "state",
                                   "zip code",
                                   "phone",
                                   "fax",
                                   "e-mail address"};

} // namespace

QString fileName() {
    return QStringLiteral("setup.nfo");
}

qint32 parseCode(const QString& line) {
    auto bad = [&]() -> Error {
        return Error(QStringLiteral("The settings file holds a password line that is not a "
                                    "number: '%1'.")
                         .arg(line));
    };
    qsizetype i = 0;
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == u'+' || line[i] == u'-'))
        negative = line[i++] == u'-';
    int base = 10;
    if (i < line.size() && line[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < line.size() && line[i] == u'0' &&
               (line[i + 1] == u'x' || line[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= line.size())
        throw bad();
    quint64 value = 0;
    for (; i < line.size(); ++i) {
        char16_t c = line[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            throw bad();
        value = value * quint64(base) + quint64(digit);
        if (value > 0xFFFFFFFFull)
            throw bad();
    }
    // Decimal must fit a signed 32-bit value; hexadecimal may use all 32 bits.
    if (base == 10 && value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        throw bad();
    qint64 v = negative ? -qint64(value) : qint64(value);
    return qint32(quint32(quint64(v) & 0xFFFFFFFFull));
}

void load(const QString& path, SettingsRecord& record,
          const std::function<void(const QString&)>& afterFirstLine) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(
            QStringLiteral("Cannot open the settings file %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(
            QStringLiteral("Cannot read the settings file %1: %2").arg(path, file.errorString()));
    file.close();

    LineReader in(std::move(bytes));
    record.DatabasePath = in.readLine();
    if (afterFirstLine)
        afterFirstLine(record.DatabasePath);
    QString* const rest[] = {&record.SysIdPrefix,  &record.CompanyName,  &record.CompanyAddress,
                             &record.CompanyCity,  &record.CompanyState, &record.CompanyZip,
                             &record.CompanyPhone, &record.CompanyFax,   &record.CompanyEmail};
    for (QString* field : rest)
        *field = in.readLine();
    record.Password.clear();
    while (!in.atEnd()) {
        qint32 code = parseCode(in.readLine());
        const char byte = static_cast<char>(code & 0xFF); // codes over 255 keep their low 8 bits
        record.Password += cp1252::decode(std::string_view(&byte, 1));
    }
}

void validate(const Lines& lines) {
    for (size_t i = 0; i < lines.values.size(); ++i) {
        const QString& v = lines.values[i];
        QChar bad = cp1252::firstUnrepresentable(v);
        if (!bad.isNull())
            throw Error(QStringLiteral("The %1 cannot hold the character '%2': the settings file "
                                       "keeps only Western European (code page 1252) text.")
                            .arg(QLatin1String(kBoxNames[i]), bad));
        for (QChar c : v)
            if (c == u'\r' || c == u'\n' || c.unicode() == kEndOfFile)
                throw Error(QStringLiteral("The %1 cannot hold a line break or control character.")
                                .arg(QLatin1String(kBoxNames[i])));
    }
    QChar bad = cp1252::firstUnrepresentable(lines.password);
    if (!bad.isNull())
        throw Error(QStringLiteral("The password cannot hold the character '%1': only Western "
                                   "European (code page 1252) characters can be stored. Nothing "
                                   "was saved.")
                        .arg(bad));
}

void save(const QString& path, const Lines& lines) {
    validate(lines);
    QByteArray out;
    for (const QString& v : lines.values) {
        out += QByteArray::fromStdString(*cp1252::encode(v));
        out += "\r\n";
    }
    const std::string password = cp1252::encode(lines.password).value();
    for (char c : password) {
        out += QByteArray::number(int(static_cast<unsigned char>(c)));
        out += "\r\n";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(
            QStringLiteral("Cannot write the settings file %1: %2").arg(path, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(out) != out.size() || !file.commit())
        throw Error(
            QStringLiteral("Cannot write the settings file %1: %2").arg(path, file.errorString()));
}

} // namespace qn::settings
