// Table files: field round trips, code page text, refusals, deleted rows and damaged files.
#include "error.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QFile>
#include <QTest>

using namespace qn;

class TestDbf : public QObject {
    Q_OBJECT
private slots:
    void init();
    void everyFieldTypeRoundTrips();
    void headerFollowsTheFormat();
    void codePageTextIsStoredAsBytes();
    void refusedValuesLeaveTheRowUnchanged_data();
    void refusedValuesLeaveTheRowUnchanged();
    void deletedRowsAreInvisible();
    void damagedTablesAreRefusedWithTheirName_data();
    void damagedTablesAreRefusedWithTheirName();
    void headerCountIsReconciledWithTheFile();
    void damagedOrMissingIndexIsReported();
    void fileNamesMatchWithoutCase();

private:
    QString makeTable();
    Table* openTable(const QString& name = "T.dbf");
    std::unique_ptr<test::Sandbox> m_box;
    std::unique_ptr<Table> m_table;
};

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

void expectError(const std::function<void()>& action, const QString& part) {
    try {
        action();
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(part), qPrintable(e.message()));
        return;
    }
    QFAIL(qPrintable("no error; expected one mentioning " + part));
}

} // namespace

void TestDbf::init() {
    m_table.reset();
    m_box = std::make_unique<test::Sandbox>();
}

QString TestDbf::makeTable() {
    QString path = m_box->file("T.dbf");
    schema::createTableFiles(path,
                             {{"NAME", 'C', 12, 0}, {"QTY", 'N', 7, 2}, {"BORN", 'D', 8, 0},
                              {"OK", 'L', 1, 0}},
                             {TagSpec{"NAME", "NAME", "", 'C', 0, false, false}});
    return path;
}

Table* TestDbf::openTable(const QString& name) {
    m_table = std::make_unique<Table>(m_box->engine());
    m_table->setDatabaseName("IP");
    m_table->setTableName(name);
    m_table->open();
    return m_table.get();
}

void TestDbf::everyFieldTypeRoundTrips() {
    makeTable();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Table* t = openTable();
    t->append();
    t->setFieldText("Name", "  padded ");
    t->setFieldText("QTY", "-12.5");
    t->setFieldDateTime("BORN", QDateTime(QDate(2026, 12, 6), QTime(14, 30)));
    t->setFieldText("OK", "True");
    t->post();
    t->append();
    t->setFieldInteger("QTY", 42);
    t->setFieldText("BORN", "2001-02-03");
    t->setFieldText("OK", "F");
    t->post();
    t->append(); // all blank
    t->post();
    t->close();

    t = openTable("t.DBF");
    QCOMPARE(t->recordCount(), 3);
    t->first();
    QCOMPARE(t->fieldText("NAME"), QString("  padded")); // leading blanks kept, padding dropped
    QCOMPARE(t->fieldText("QTY"), QString("-12.50"));
    QCOMPARE(t->fieldText("BORN"), QString("12/6/2026"));
    QCOMPARE(t->fieldText("OK"), QString("True"));
    t->next();
    QCOMPARE(t->fieldText("QTY"), QString("42.00"));
    QCOMPARE(t->fieldText("BORN"), QString("2/3/2001"));
    QCOMPARE(t->fieldText("OK"), QString("False"));
    t->next();
    QCOMPARE(t->fieldText("NAME"), QString());
    QCOMPARE(t->fieldText("QTY"), QString());
    QCOMPARE(t->fieldText("BORN"), QString());
    QCOMPARE(t->fieldText("OK"), QString());
    // A date written as text in the locale's own short form reads back the same.
    t->edit();
    t->setFieldText("BORN", "7/4/1999");
    t->post();
    QCOMPARE(t->fieldText("BORN"), QString("7/4/1999"));
    QLocale::setDefault(QLocale::c());
}

void TestDbf::headerFollowsTheFormat() {
    QString path = makeTable();
    Table* t = openTable();
    t->append();
    t->setFieldText("NAME", "x");
    t->post();
    QByteArray bytes = readAll(path);
    QCOMPARE(uchar(bytes[0]), uchar(0x03));
    QCOMPARE(uchar(bytes[28]), uchar(1));    // production index present
    QCOMPARE(uchar(bytes[29]), uchar(0x57)); // code page 1252
    QCOMPARE(int(uchar(bytes[4])), 1);
    int header = uchar(bytes[8]) | uchar(bytes[9]) << 8;
    int record = uchar(bytes[10]) | uchar(bytes[11]) << 8;
    QCOMPARE(header, 32 + 4 * 32 + 1);
    QCOMPARE(record, 1 + 12 + 7 + 8 + 1);
    QCOMPARE(bytes.size(), header + record + 1);
    QCOMPARE(uchar(bytes.back()), uchar(0x1A));
    QCOMPARE(bytes.mid(header, record),
             QByteArray(" x") + QByteArray(11 + 7 + 8 + 1, ' '));
}

void TestDbf::codePageTextIsStoredAsBytes() {
    QString path = makeTable();
    Table* t = openTable();
    t->append();
    const QString text = QString::fromUtf8("Zoë €5 Œuvre");
    t->setFieldText("NAME", text); // 12 characters, 12 bytes
    t->post();
    QVERIFY(readAll(path).contains(QByteArray("Zo\xEB \x80" "5 \x8Cuvre")));
    t->close();
    t = openTable();
    t->first();
    QCOMPARE(t->fieldText("NAME"), text);
}

void TestDbf::refusedValuesLeaveTheRowUnchanged_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("too long") << "NAME" << "thirteen chrs" << "NAME holds at most 12 characters";
    QTest::newRow("outside the code page") << "NAME" << QString::fromUtf8("Łódź") << "NAME cannot hold the character 'Ł'";
    QTest::newRow("not a number") << "QTY" << "12a" << "QTY needs a number";
    QTest::newRow("number too wide") << "QTY" << "123456" << "QTY holds at most 7";
    QTest::newRow("not a date") << "BORN" << "31.02.2020x" << "BORN needs a date";
    QTest::newRow("not logical") << "OK" << "maybe" << "OK needs True or False";
    QTest::newRow("unknown field") << "COLOUR" << "red" << "Field COLOUR does not exist";
}

void TestDbf::refusedValuesLeaveTheRowUnchanged() {
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    makeTable();
    Table* t = openTable();
    t->append();
    t->setFieldText("NAME", "keep");
    t->setFieldText("QTY", "1");
    t->post();
    t->edit();
    expectError([&] { t->setFieldText(field, value); }, message);
    t->post();
    QCOMPARE(t->fieldText("NAME"), QString("keep"));
    QCOMPARE(t->fieldText("QTY"), QString("1.00"));
    // Writing outside edit mode is refused too.
    expectError([&] { t->setFieldText("NAME", "x"); }, "not in edit or insert mode");
}

void TestDbf::deletedRowsAreInvisible() {
    QString path = makeTable();
    Table* t = openTable();
    for (const char* n : {"a", "b", "c", "d"}) {
        t->append();
        t->setFieldText("NAME", n);
        t->post();
    }
    t->first();
    t->next(); // b
    t->remove();
    QCOMPARE(t->fieldText("NAME"), QString("c")); // the following row becomes current
    t->last();
    t->remove();
    QCOMPARE(t->fieldText("NAME"), QString("c")); // at the end, the prior one
    QVERIFY(t->eof());
    QCOMPARE(t->recordCount(), 2);
    t->close();
    QByteArray bytes = readAll(path);
    QCOMPARE(bytes.count('*'), 2); // still in the file, flagged
    t = openTable();
    QStringList names;
    for (t->first(); !t->eof(); t->next())
        names << t->fieldText("NAME");
    QCOMPARE(names, QStringList({"a", "c"}));
    t->setIndexName("NAME");
    names.clear();
    for (t->first(); !t->eof(); t->next())
        names << t->fieldText("NAME");
    QCOMPARE(names, QStringList({"a", "c"}));
    QVERIFY(!t->locate("NAME", "b"));
    t->file()->verifyIndexes();
}

void TestDbf::damagedTablesAreRefusedWithTheirName_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("truncateTo");
    QTest::addColumn<QString>("message");
    QTest::newRow("FoxPro version") << 0 << QByteArray("\x30", 1) << -1 << "version byte 0x30";
    QTest::newRow("memo version") << 0 << QByteArray("\x8B", 1) << -1 << "version byte 0x8b";
    QTest::newRow("memo field") << 32 + 11 << QByteArray("M") << -1 << "type 'M'";
    QTest::newRow("float field") << 32 + 32 + 11 << QByteArray("F") << -1 << "type 'F'";
    QTest::newRow("header length past the end") << 8 << QByteArray("\xFF\x7F", 2) << -1 << "header length";
    QTest::newRow("record shorter than fields") << 10 << QByteArray("\x05\x00", 2) << -1 << "record length";
    QTest::newRow("cut inside the header") << 0 << QByteArray() << 20 << "too short";
    QTest::newRow("cut inside the fields") << 0 << QByteArray() << 70 << "header length 161";
    QTest::newRow("encrypted") << 15 << QByteArray("\x01", 1) << -1 << "encrypted";
}

void TestDbf::damagedTablesAreRefusedWithTheirName() {
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(int, truncateTo);
    QFETCH(QString, message);
    QString path = makeTable();
    QByteArray data = readAll(path);
    data.replace(offset, bytes.size(), bytes);
    if (truncateTo >= 0)
        data.truncate(truncateTo);
    writeAll(path, data);
    expectError([&] { openTable(); }, message);
    expectError([&] { openTable(); }, "T.dbf");
}

void TestDbf::headerCountIsReconciledWithTheFile() {
    QString path = makeTable();
    {
        Table* t = openTable();
        for (int i = 0; i < 5; ++i) {
            t->append();
            t->setFieldText("NAME", QString("row%1").arg(i));
            t->post();
        }
        m_table.reset();
    }
    QByteArray good = readAll(path);
    // Header promises more rows than the file holds: the complete rows are read and the next
    // append continues after them.
    QByteArray more = good;
    more[4] = 9;
    writeAll(path, more);
    {
        Table* t = openTable();
        QCOMPARE(t->recordCount(), 5);
        t->append();
        t->setFieldText("NAME", "row5");
        t->post();
        QCOMPARE(t->recordCount(), 6);
        m_table.reset();
        QByteArray after = readAll(path);
        QCOMPARE(int(after[4]), 6);
        QCOMPARE(uchar(after.back()), uchar(0x1A));
    }
    // A file cut in the middle of a row: that row is dropped, the others stay readable.
    QByteArray cut = good.left(good.size() - 1 - 10);
    writeAll(path, cut);
    {
        Table* t = openTable();
        QCOMPARE(t->recordCount(), 4);
        t->last();
        QCOMPARE(t->fieldText("NAME"), QString("row3"));
        m_table.reset();
    }
    // Header counts fewer rows than the file holds (a writer stopped before publishing them):
    // only the counted rows are shown; the next append keeps the whole rows past the count
    // (never writing over a slot the file holds) and goes after them.
    QByteArray fewer = good;
    fewer[4] = 3;
    writeAll(path, fewer);
    {
        Table* t = openTable();
        t->setIndexName(""); // the index still knows rows 4 and 5, the table does not
        QCOMPARE(t->recordCount(), 3);
        t->append();
        t->setFieldText("NAME", "new");
        t->post();
        QCOMPARE(t->recNo(), 6u);
        QCOMPARE(t->recordCount(), 6);
        t->file()->verifyIndexes();
    }
}

void TestDbf::damagedOrMissingIndexIsReported() {
    QString path = makeTable();
    QString mdx = m_box->file("T.mdx");
    QByteArray good = readAll(mdx);
    // Garbage where the index should be.
    QByteArray garbage(good.size(), '\xA5');
    writeAll(mdx, garbage);
    expectError([&] { openTable(); }, "T.mdx is damaged");
    // A node claiming more keys than a block holds, reached on the first move.
    QByteArray badNode = good;
    badNode[6 * 512] = 0x7F;
    writeAll(mdx, badNode);
    expectError([&] { openTable()->setIndexName("NAME"); }, "is damaged");
    // A child pointer leading outside the file.
    QByteArray loop = good;
    loop[2048] = 0x7F; // the tag's root page
    writeAll(mdx, loop);
    expectError([&] { openTable(); }, "root outside the file");
    // Flag set, index gone.
    QFile::remove(mdx);
    expectError([&] { openTable(); }, "T.mdx of table");
    // Without the flag the table opens in physical order and refuses a tag.
    QByteArray table = readAll(path);
    table[28] = 0;
    writeAll(path, table);
    Table* t = openTable();
    QVERIFY(t->isEmpty());
    expectError([&] { t->setIndexName("NAME"); }, "Index tag NAME does not exist");
}

void TestDbf::fileNamesMatchWithoutCase() {
    m_box->createInventory();
    for (const char* name : {"IP.DBF", "ip.dbf", "Ip.Dbf", "IP"}) {
        Table* t = openTable(name);
        QVERIFY(t->filePath().endsWith("/IP.dbf"));
        QVERIFY(t->hasField("ipstring"));
    }
    expectError([&] { openTable("Nothing.dbf"); }, "Table does not exist");
}

QTEST_GUILESS_MAIN(TestDbf)
#include "test_dbf.moc"
