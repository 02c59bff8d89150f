// setup.nfo: reading every shape of file the program may meet, and writing it back exactly.
#include "error.h"
#include "settings.h"
#include "testutil.h"

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
    void loadShapes_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("read"); // path, prefix, e-mail, password
        QTest::addColumn<bool>("error");       // read as far as it goes, then refused
        const QStringList ten{"/srv/ip", "ABC", "it@acme.example"};
        // After the ten lines, the password lines and the password read from them, or read
        // before the line refused.
        int n = 0;
        const auto rows = [&](std::initializer_list<const char*> t, bool error) {
            for (auto i = t.begin(); i != t.end(); i += 2)
                QTest::addRow("password lines %d", n++)
                    << kTenLines + i[0] << ten + QStringList{QString::fromUtf8(i[1])} << error;
        };
        // A code keeps its low byte, high codes are code page 1252, character 26 ends the file,
        // and the last line needs no line end.
        rows({"", "", "97\r\n66\r\n", "aB", "97\r\n66", "aB", "321\r\n", "A", "-191\r\n", "A",
              "128\r\n233\r\n", "€é", "97\r\n\03298\r\n", "a"},
             false);
        // Blanks before a code, a sign, hexadecimal ($ or 0x) over all 32 bits, decimal within
        // signed 32 bits.
        rows({"  97", "a", "+97", "a", "$61", "a", "0x4A", "J", "0X4a", "J", "$FFFFFFFF", "ÿ",
              "2147483647", "ÿ"},
             false);
        QTest::newRow("lowest code") << kTenLines + "-2147483648\r\n97"
                                     << ten + QStringList{QChar(0) + QString("a")} << false;
        // A blank line after the codes, a word, a trailing blank, too large; no digits after a
        // sign or $, a letter in decimal, a point, a digit other than 0-9.
        rows({"97\r\n98\r\n\r\n", "ab", "97\r\nabc\r\n99\r\n", "a", "97 \r\n", "",
              "97\r\n4294967296\r\n", "a"},
             true);
        rows({"2147483648", "", "-", "", "$", "", "6a", "", "9.5", "", "\262", ""}, true);
        QTest::newRow("only line 1")
            << QByteArray("/srv/ip\r\n") << QStringList{"/srv/ip", "", "", ""} << false;
        QTest::newRow("line 1 without line end")
            << QByteArray("/srv/ip") << QStringList{"/srv/ip", "", "", ""} << false;
        QTest::newRow("empty file") << QByteArray() << QStringList{"", "", "", ""} << false;
        QTest::newRow("lone LF stays in the line")
            << QByteArray("/srv/ip\nX\r\nP\r\n") << QStringList{"/srv/ip\nX", "P", "", ""} << false;
        QTest::newRow("text is code page 1252")
            << QByteArray("C:\\Donn\351es\r\n\200-\r\n")
            << QStringList{QString::fromUtf8("C:\\Données"), QString::fromUtf8("€-"), "", ""}
            << false;
        QTest::newRow("blanks are kept") << QByteArray("  /srv/ip  \r\n AB \r\n")
                                         << QStringList{"  /srv/ip  ", " AB ", "", ""} << false;
    }
    void loadShapes() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, read);
        QFETCH(bool, error);
        write(file);
        SettingsRecord r;
        r.Password = "stale";
        r.CompanyEmail = "stale";
        if (error)
            QVERIFY_THROWS_EXCEPTION(Error, settings::load(path(), r));
        else
            settings::load(path(), r);
        QCOMPARE((QStringList{r.DatabasePath, r.SysIdPrefix, r.CompanyEmail, r.Password}), read);
        QVERIFY_THROWS_EXCEPTION(Error, settings::load(m_dir->filePath("missing.nfo"), r));
    }
    void saveWritesExactBytesAndReadsBack_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("company");
        QTest::newRow("blanks and symbols") << QString(" p a$$ ") << "  O'Brien & Sons  ";
        QTest::newRow("code page 1252") << QString::fromUtf8("€ÿŠœ") << QString::fromUtf8("Müller");
        QTest::newRow("empty") << QString() << "";
    }
    void saveWritesExactBytesAndReadsBack() {
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
        QCOMPARE(read(), "/mnt/Donn\351es" + QByteArray("\r\n").repeated(10));

        lines.values = {"/srv/ip", "QN-", company, "a", "b", "c", "d", "e", "f", "g"};
        lines.password = password;
        settings::save(path(), lines);
        SettingsRecord r;
        settings::load(path(), r);
        QCOMPARE((QStringList{r.Password, r.CompanyName, r.SysIdPrefix, r.CompanyEmail}),
                 (QStringList{password, company, "QN-", "g"}));
    }
    void saveRefusesWhatCannotReadBack_data() {
        QTest::addColumn<int>("line"); // -1: the password
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("named");
        QTest::newRow("password outside code page 1252")
            << -1 << QString::fromUtf8("pässwörd✓") << "password";
        QTest::newRow("cyrillic company")
            << 2 << QString::fromUtf8("Рога и копыта") << "company name";
        QTest::newRow("line break in a path") << 0 << QString("/srv\nip") << "database folder";
        QTest::newRow("end-of-file character") << 9 << QString("a\032b") << "e-mail address";
    }
    void saveRefusesWhatCannotReadBack() {
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
    void saveIsPrivateAndAtomic() {
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
        QVERIFY_THROWS_EXCEPTION(Error,
                                 settings::save(m_dir->filePath("no/such/setup.nfo"), lines));
    }

private:
    QString path() const { return m_dir->filePath("setup.nfo"); }
    void write(const QByteArray& bytes) { test::writeBytes(path(), bytes); }
    QByteArray read() { return test::fileBytes(path()); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
