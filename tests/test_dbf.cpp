// Table files and their production index: field round trips, code page text, refusals, deleted
// rows, damaged files, and every tag ordered and complete under many mixed changes.
#include "error.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace qn;
using test::expectStoreError;
using test::fileBytes;
using test::writeBytes;

class TestDbf : public QObject {
    Q_OBJECT
    std::unique_ptr<test::Sandbox> m_box;
    std::unique_ptr<Table> m_table;

    QString makeTable() {
        QString path = m_box->file("T.dbf");
        schema::createTableFiles(
            path,
            {{"NAME", 'C', 12, 0}, {"QTY", 'N', 7, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}},
            {TagSpec{"NAME", "NAME", "", 'C', 0, false, false}});
        return path;
    }
    Table* openTable(const QString& name = "T.dbf") {
        m_table.reset();
        m_table = m_box->open(name);
        return m_table.get();
    }

private slots:
    void init() {
        m_table.reset();
        m_box = std::make_unique<test::Sandbox>();
    }

    void everyFieldTypeRoundTrips() {
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
        t->setFieldText("NAME", QString::fromUtf8("Zoë €5 Œuvre")); // 12 characters, 12 bytes
        t->setFieldInteger("QTY", 42);
        t->setFieldText("BORN", "2001-02-03");
        t->setFieldText("OK", "F");
        t->post();
        test::appendRow(*t, {}); // all blank
        t->close();

        t = openTable("t.DBF");
        QCOMPARE(t->recordCount(), 3);
        const QStringList expected[] = {
            {"  padded", "-12.50", "12/6/2026", "True"},
            {QString::fromUtf8("Zoë €5 Œuvre"), "42.00", "2/3/2001", "False"},
            {"", "", "", ""}};
        int row = 0;
        for (t->first(); !t->eof(); t->next(), ++row) // leading blanks kept, padding dropped
            QCOMPARE((QStringList{t->fieldText("NAME"), t->fieldText("QTY"), t->fieldText("BORN"),
                                  t->fieldText("OK")}),
                     expected[row]);
        // A date written as text in the locale's own short form reads back the same.
        test::editRow(*t, {{"BORN", "7/4/1999"}});
        QCOMPARE(t->fieldText("BORN"), QString("7/4/1999"));
        QLocale::setDefault(QLocale::c());
    }

    void refusedValuesLeaveTheRowUnchanged_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        for (auto [name, field, value, message] :
             {std::tuple{"too long", "NAME", "thirteen chrs", "NAME holds at most 12 characters"},
              {"outside the code page", "NAME", "Łódź", "NAME cannot hold the character 'Ł'"},
              {"not a number", "QTY", "12a", "QTY needs a number"},
              {"number too wide", "QTY", "123456", "QTY holds at most 7"},
              {"not a date", "BORN", "31.02.2020x", "BORN needs a date"},
              {"not logical", "OK", "maybe", "OK needs True or False"},
              {"unknown field", "COLOUR", "red", "Field COLOUR does not exist"}})
            QTest::newRow(name) << QString(field) << QString::fromUtf8(value)
                                << QString::fromUtf8(message);
    }
    void refusedValuesLeaveTheRowUnchanged() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        makeTable();
        Table* t = openTable();
        test::appendRow(*t, {{"NAME", "keep"}, {"QTY", "1"}});
        t->edit();
        expectStoreError([&] { t->setFieldText(field, value); }, message);
        t->post();
        QCOMPARE(t->fieldText("NAME"), QString("keep"));
        QCOMPARE(t->fieldText("QTY"), QString("1.00"));
        // Writing outside edit mode is refused too.
        expectStoreError([&] { t->setFieldText("NAME", "x"); }, "not in edit or insert mode");
    }

    void deletedRowsAreInvisible() {
        QString path = makeTable();
        Table* t = openTable();
        for (const char* n : {"a", "b", "c", "d"})
            test::appendRow(*t, {{"NAME", n}});
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
        QCOMPARE(fileBytes(path).count('*'), 2); // still in the file, flagged
        t = openTable();
        QCOMPARE(test::fieldValues(*t, "NAME"), QStringList({"a", "c"}));
        t->setIndexName("NAME");
        QCOMPARE(test::fieldValues(*t, "NAME"), QStringList({"a", "c"}));
        t->first();
        t->remove(); // in tag order too
        QCOMPARE(t->fieldText("NAME"), QString("c"));
        QVERIFY(!t->locate("NAME", "b"));
        t->file()->verifyIndexes();
    }

    void damagedTablesAreRefusedWithTheirName_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("truncateTo");
        QTest::addColumn<QString>("message");
        QTest::newRow("FoxPro version") << 0 << QByteArray("\x30", 1) << -1 << "version byte 0x30";
        QTest::newRow("memo version") << 0 << QByteArray("\x8B", 1) << -1 << "version byte 0x8b";
        QTest::newRow("memo field") << 32 + 11 << QByteArray("M") << -1 << "type 'M'";
        QTest::newRow("float field") << 32 + 32 + 11 << QByteArray("F") << -1 << "type 'F'";
        QTest::newRow("header length past the end")
            << 8 << QByteArray("\xFF\x7F", 2) << -1 << "header length";
        QTest::newRow("record shorter than fields")
            << 10 << QByteArray("\x05\x00", 2) << -1 << "record length";
        QTest::newRow("cut inside the header") << 0 << QByteArray() << 20 << "too short";
        QTest::newRow("cut inside the fields") << 0 << QByteArray() << 70 << "header length 161";
        QTest::newRow("encrypted") << 15 << QByteArray("\x01", 1) << -1 << "encrypted";
    }
    void damagedTablesAreRefusedWithTheirName() {
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(int, truncateTo);
        QFETCH(QString, message);
        QString path = makeTable();
        QByteArray data = fileBytes(path);
        data.replace(offset, bytes.size(), bytes);
        if (truncateTo >= 0)
            data.truncate(truncateTo);
        writeBytes(path, data);
        expectStoreError([&] { openTable(); }, message);
        expectStoreError([&] { openTable(); }, "T.dbf");
    }

    // A writer stopped before publishing its rows in the header: only the counted rows are
    // shown; the next append keeps the whole rows past the count (never writing over a slot
    // the file holds) and goes after them. (Rows lost from the file: test_damage.)
    void rowsPastTheHeaderCountAreKept() {
        QString path = makeTable();
        Table* t = openTable();
        for (int i = 0; i < 5; ++i)
            test::appendRow(*t, {{"NAME", QString("row%1").arg(i)}});
        m_table.reset();
        QByteArray fewer = fileBytes(path);
        fewer[4] = 3;
        writeBytes(path, fewer);
        t = openTable();
        t->setIndexName(""); // the index still knows rows 4 and 5, the table does not
        QCOMPARE(t->recordCount(), 3);
        test::appendRow(*t, {{"NAME", "new"}});
        QCOMPARE(t->recNo(), 6u);
        QCOMPARE(t->recordCount(), 6);
        t->file()->verifyIndexes();
    }

    void damagedOrMissingIndexIsReported() {
        QString path = makeTable();
        QString mdx = m_box->file("T.mdx");
        QByteArray good = fileBytes(mdx);
        writeBytes(mdx, QByteArray(good.size(), '\xA5')); // garbage where the index should be
        expectStoreError([&] { openTable(); }, "T.mdx is damaged");
        // A node claiming more keys than a block holds, reached on the first move.
        QByteArray badNode = good;
        badNode[6 * 512] = 0x7F;
        writeBytes(mdx, badNode);
        expectStoreError([&] { openTable()->setIndexName("NAME"); }, "is damaged");
        // A child pointer leading outside the file.
        QByteArray loop = good;
        loop[2048] = 0x7F; // the tag's root page
        writeBytes(mdx, loop);
        expectStoreError([&] { openTable(); }, "root outside the file");
        // Flag set, index gone.
        QFile::remove(mdx);
        expectStoreError([&] { openTable(); }, "T.mdx of table");
        // Without the flag the table opens in physical order and refuses a tag.
        QByteArray table = fileBytes(path);
        table[28] = 0;
        writeBytes(path, table);
        Table* t = openTable();
        QVERIFY(t->isEmpty());
        expectStoreError([&] { t->setIndexName("NAME"); }, "Index tag NAME does not exist");
    }

    void mixedChangesKeepEveryTagComplete_data() {
        QTest::addColumn<int>("operations");
        QTest::addColumn<quint32>("seed");
        QTest::newRow("3000 ops") << 3000 << 7u;
        QTest::newRow("6000 ops") << 6000 << 12345u;
    }
    void mixedChangesKeepEveryTagComplete() {
        QFETCH(int, operations);
        QFETCH(quint32, seed);
        m_box->createInventory();
        Table& t = *openTable("IP.DBF");
        QRandomGenerator rng(seed);
        const QStringList types{"AAAA", "APPL", "LINX", "NHUB", "WIND"};
        const QStringList names{"alpha",   "beta", "gamma",  "Delta",
                                "epsilon", "zeta", "Ørsted", "Müller"};
        auto pick = [&](const QStringList& from) { return from[int(rng.bounded(from.size()))]; };
        for (int i = 0; i < operations; ++i) {
            int op = int(rng.bounded(10));
            if (op < 6 || t.isEmpty()) {
                test::appendRow(t,
                                {{"SysID", QString("A%1").arg(rng.bounded(400), 4, 10, QChar('0'))},
                                 {"Computer", pick(names) + QString::number(rng.bounded(50))},
                                 {"IPString", QString::number(rng.bounded(1000))},
                                 {"Type", pick(types)},
                                 {"Alias1", rng.bounded(3) == 0 ? QString() : pick(names)}});
                continue;
            }
            // Jump to a random live row by walking a few steps from the first.
            t.first();
            for (int s = int(rng.bounded(40)); s > 0 && !t.eof(); --s)
                t.next();
            if (op >= 8) {
                t.remove();
                continue;
            }
            t.edit();
            t.setFieldText("Type", pick(types));
            t.setFieldText("IPString", QString::number(rng.bounded(1000)));
            if (op == 7)
                t.setFieldText("SysID", QString("B%1").arg(rng.bounded(50)));
            t.post();
        }
        t.file()->verifyIndexes();
        // The tag walks the keys in byte order both ways.
        QStringList keys = test::storedValues(m_box->file("IP.dbf"), "IPString"), backward;
        std::sort(keys.begin(), keys.end(),
                  [](const QString& a, const QString& b) { return a.toLatin1() < b.toLatin1(); });
        t.setIndexName("IP");
        for (t.last(); !t.bof(); t.prior())
            backward.prepend(t.fieldText("IPString"));
        QCOMPARE(test::fieldValues(t, "IPString"), keys);
        QCOMPARE(backward, keys);
        m_table.reset();
        // Reopened from disk, the tags still agree with the rows.
        TableFile(m_box->file("IP.dbf")).verifyIndexes();
    }

    void uniqueTagKeepsEachKeyWhileAnyRowHasIt() {
        m_box->createInventory();
        for (const char* name : {"IP.DBF", "ip.dbf", "Ip.Dbf", "IP"}) // names match without case
            QVERIFY(openTable(name)->filePath().endsWith("/IP.dbf"));
        expectStoreError([&] { openTable("Nothing.dbf"); }, "Table does not exist");
        Table& t = *openTable("Systems.dbf");
        for (const char* c : {"Initech", "Acme", "Initech", "Globex", "Acme", "Initech"})
            test::appendRow(t, {{"Company", c}});
        t.setIndexName("Company");
        QCOMPARE(test::fieldValues(t, "Company"), QStringList({"Acme", "Globex", "Initech"}));
        QCOMPARE(t.recordCount(), 3);
        // Remove the row that stands for Initech, then rename another: the key survives while
        // a row still has it, and goes when none does.
        t.setIndexName("");
        t.first();
        t.remove(); // record 1, Initech
        t.setIndexName("Company");
        QCOMPARE(test::fieldValues(t, "Company"), QStringList({"Acme", "Globex", "Initech"}));
        t.file()->verifyIndexes();
        t.setIndexName("");
        for (t.first(); !t.eof(); t.next())
            if (t.fieldText("Company") == "Initech")
                test::editRow(t, {{"Company", "Umbrella"}});
        t.setIndexName("Company");
        QCOMPARE(test::fieldValues(t, "Company"), QStringList({"Acme", "Globex", "Umbrella"}));
        t.file()->verifyIndexes();
    }
};

QTEST_GUILESS_MAIN(TestDbf)
#include "test_dbf.moc"
