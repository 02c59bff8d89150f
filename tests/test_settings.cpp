// setup.nfo: reading every shape of file the program may meet, and writing it back exactly.
#include "error.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qn;

namespace {

const QByteArray kTenLines = "/srv/ip\r\nABC\r\nAcme Ltd\r\n1 Main St\r\nSpringfield\r\nIL\r\n"
                             "62701\r\n555-0100\r\n555-0101\r\nit@acme.example\r\n";

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void loadShapes_data();
    void loadShapes();
    void loadStopsAtBadPasswordLine_data();
    void loadStopsAtBadPasswordLine();
    void parseCodeForms_data();
    void parseCodeForms();
    void saveWritesExactBytesAndReadsBack_data();
    void saveWritesExactBytesAndReadsBack();
    void saveRefusesWhatCannotReadBack_data();
    void saveRefusesWhatCannotReadBack();
    void saveIsPrivateAndAtomic();

private:
    QString path() const { return m_dir->filePath("setup.nfo"); }
    void write(const QByteArray& bytes) {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read() {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettings::loadShapes_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("read"); // path, prefix, e-mail, password
    const QStringList ten{"/srv/ip", "ABC", "it@acme.example"};
    QTest::newRow("ten lines: no password") << kTenLines << ten + QStringList{""};
    QTest::newRow("only line 1") << QByteArray("/srv/ip\r\n") << QStringList{"/srv/ip", "", "", ""};
    QTest::newRow("line 1 without line end")
        << QByteArray("/srv/ip") << QStringList{"/srv/ip", "", "", ""};
    QTest::newRow("empty file") << QByteArray() << QStringList{"", "", "", ""};
    QTest::newRow("two codes") << kTenLines + "97\r\n66\r\n" << ten + QStringList{"aB"};
    QTest::newRow("last code without line end")
        << kTenLines + "97\r\n66" << ten + QStringList{"aB"};
    QTest::newRow("code over 255 keeps its low byte") << kTenLines + "321\r\n"
                                                      << ten + QStringList{"A"};
    QTest::newRow("minus code keeps its low byte") << kTenLines + "-191\r\n"
                                                   << ten + QStringList{"A"};
    QTest::newRow("high codes are code page 1252") << kTenLines + "128\r\n233\r\n"
                                                   << ten + QStringList{QString::fromUtf8("€é")};
    QTest::newRow("character 26 ends the file") << kTenLines + "97\r\n\x1a" + "98\r\n"
                                                << ten + QStringList{"a"};
    QTest::newRow("lone LF stays in the line")
        << QByteArray("/srv/ip\nX\r\nP\r\n") << QStringList{"/srv/ip\nX", "P", "", ""};
    QTest::newRow("text is code page 1252")
        << QByteArray("C:\\Donn\xe9"
                      "es\r\n\x80-\r\n")
        << QStringList{QString::fromUtf8("C:\\Données"), QString::fromUtf8("€-"), "", ""};
    QTest::newRow("blanks are kept")
        << QByteArray("  /srv/ip  \r\n AB \r\n") << QStringList{"  /srv/ip  ", " AB ", "", ""};
}

void TestSettings::loadShapes() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, read);
    write(file);
    SettingsRecord r;
    r.Password = "stale";
    r.CompanyEmail = "stale";
    settings::load(path(), r);
    QCOMPARE((QStringList{r.DatabasePath, r.SysIdPrefix, r.CompanyEmail, r.Password}), read);
}

void TestSettings::loadStopsAtBadPasswordLine_data() {
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QString>("kept");
    QTest::newRow("blank line after the codes") << QByteArray("97\r\n98\r\n\r\n") << "ab";
    QTest::newRow("word") << QByteArray("97\r\nabc\r\n99\r\n") << "a";
    QTest::newRow("trailing blank") << QByteArray("97 \r\n") << "";
    QTest::newRow("too large") << QByteArray("97\r\n4294967296\r\n") << "a";
}

void TestSettings::loadStopsAtBadPasswordLine() {
    QFETCH(QByteArray, tail);
    QFETCH(QString, kept);
    write(kTenLines + tail);
    SettingsRecord r;
    QVERIFY_THROWS_EXCEPTION(Error, settings::load(path(), r));
    QCOMPARE(r.Password, kept);
    QCOMPARE(r.CompanyEmail, QString("it@acme.example"));
    QVERIFY_THROWS_EXCEPTION(Error, settings::load(m_dir->filePath("missing.nfo"), r));
}

void TestSettings::parseCodeForms_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value"); // -1000000 marks an error
    const qint64 bad = -1000000;
    const struct {
        const char *tag, *text;
        qint64 value;
    } rows[] = {{"decimal", "97", 97},
                {"leading blanks", "  97", 97},
                {"plus sign", "+97", 97},
                {"minus sign", "-191", -191},
                {"dollar hex", "$61", 0x61},
                {"0x hex", "0x4A", 0x4A},
                {"hex uses 32 bits", "$FFFFFFFF", -1},
                {"largest decimal", "2147483647", 2147483647},
                {"smallest decimal", "-2147483648", -2147483648LL},
                {"decimal overflow", "2147483648", bad},
                {"empty", "", bad},
                {"sign only", "-", bad},
                {"hex digits without prefix", "6a", bad},
                {"prefix only", "$", bad},
                {"fraction", "9.5", bad},
                {"arabic-indic digit", "\u0663", bad}};
    for (const auto& r : rows)
        QTest::newRow(r.tag) << QString::fromUtf8(r.text) << r.value;
}

void TestSettings::parseCodeForms() {
    QFETCH(QString, text);
    QFETCH(qint64, value);
    if (value == -1000000)
        QVERIFY_THROWS_EXCEPTION(Error, settings::parseCode(text));
    else
        QCOMPARE(qint64(settings::parseCode(text)), value);
}

void TestSettings::saveWritesExactBytesAndReadsBack_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("company");
    QTest::newRow("plain") << QString("secret") << "Acme";
    QTest::newRow("two characters") << QString("x1") << "";
    QTest::newRow("blanks and symbols") << QString(" p a$$ ") << "  O'Brien & Sons  ";
    QTest::newRow("code page 1252") << QString::fromUtf8("€ÿŠœ") << QString::fromUtf8("Müller");
    QTest::newRow("empty") << QString() << "";
}

void TestSettings::saveWritesExactBytesAndReadsBack() {
    QFETCH(QString, password);
    QFETCH(QString, company);
    settings::Lines lines;
    lines.values = {"/srv/ip", "ABC",   "Acme Ltd", "1 Main St", "Springfield",
                    "IL",      "62701", "555-0100", "555-0101",  "it@acme.example"};
    lines.password = "abc";
    settings::save(path(), lines);
    QCOMPARE(read(), kTenLines + "97\r\n98\r\n99\r\n");
    lines.values.fill(QString());
    lines.values[0] = QString::fromUtf8("/mnt/Données");
    lines.password.clear();
    settings::save(path(), lines);
    QCOMPARE(read(), QByteArray("/mnt/Donn\xe9"
                                "es\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));

    lines.values = {"/srv/ip", "QN-", company, "a", "b", "c", "d", "e", "f", "g"};
    lines.password = password;
    settings::save(path(), lines);
    SettingsRecord r;
    settings::load(path(), r);
    QCOMPARE((QStringList{r.Password, r.CompanyName, r.SysIdPrefix, r.CompanyEmail}),
             (QStringList{password, company, "QN-", "g"}));
}

void TestSettings::saveRefusesWhatCannotReadBack_data() {
    QTest::addColumn<int>("line"); // -1: the password
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("named");
    QTest::newRow("password outside code page 1252")
        << -1 << QString::fromUtf8("pässwörd✓") << "password";
    QTest::newRow("cyrillic company") << 2 << QString::fromUtf8("Рога и копыта") << "company name";
    QTest::newRow("line break in a path") << 0 << QString("/srv\nip") << "database folder";
    QTest::newRow("end-of-file character") << 9
                                           << QString("a\x1a"
                                                      "b")
                                           << "e-mail address";
}

void TestSettings::saveRefusesWhatCannotReadBack() {
    QFETCH(int, line);
    QFETCH(QString, value);
    QFETCH(QString, named);
    write(kTenLines + "97\r\n");
    settings::Lines lines;
    lines.values = {"/new", "NEW", "n", "n", "n", "n", "n", "n", "n", "n"};
    lines.password = "new";
    (line < 0 ? lines.password : lines.values[size_t(line)]) = value;
    try {
        settings::save(path(), lines);
        QFAIL("saved");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(named), qPrintable(e.message()));
    }
    QCOMPARE(read(), kTenLines + "97\r\n");
}

void TestSettings::saveIsPrivateAndAtomic() {
    write("old\r\n");
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadOther | QFileDevice::ReadGroup);
    settings::Lines lines;
    lines.password = "pw";
    settings::save(path(), lines);
    QCOMPARE(QFile::permissions(path()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"setup.nfo"});
    // A folder that is not there: an error, and nothing appears.
    QVERIFY_THROWS_EXCEPTION(Error, settings::save(m_dir->filePath("no/such/setup.nfo"), lines));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
