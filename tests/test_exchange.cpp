// CSV export and import: the round trip byte for byte, the marks of the preview, all or
// nothing (a row taken meanwhile, a killed import) and the roads through the menu.
#include "csvexchange.h"
#include "csvwindow.h"
#include "error.h"
#include "fixtures.h"
#include "previewmodel.h"
#include "snapshots.h"
#include "tablefile.h"
#include "ui_csvwindow.h"

#include <QAbstractItemModelTester>

using namespace qn;
namespace user = test::user;

namespace {

const QStringList kBases = {"Systems", "IP", "Hardware", "Software"};

struct Db : test::Tables {
    QByteArray records(const QString& base) const {
        const QByteArray b = test::fileBytes(box.file(base + ".dbf"));
        return b.mid(uchar(b[8]) | uchar(b[9]) << 8);
    }
    int count(const QString& base) { return box.open(base + ".dbf")->recordCount(); }
    void indexesSound(const QString& base) { TableFile(box.file(base + ".dbf")).verifyIndexes(); }
};

QString writeCsv(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
    test::writeBytes(dir.filePath(name), text);
    return dir.filePath(name);
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT
    std::unique_ptr<Db> m_marked; // the inventory the marks are taken against
    csv::ImportPlan m_plan;
    QTemporaryDir m_files;

private slots:
    void roundTripIsByteIdentical() {
        Db from;
        const QString long40 = QString("abcdefghij").repeated(4);
        from.system("QN0001",
                    {{"COMPANY", "Smith, \"Jones\" & Co"},
                     {"USERFIRST", "José"},
                     {"USERLAST", "Müller-Œuvre"},
                     {"LOCATION", long40},
                     {"ROOM", " 12"},
                     {"DATE", "2026-12-07"}},
                    "10.0.0.5", {{"COMPUTER", "jmüller"}, {"ALIAS1", "a,b"}, {"ALIAS2", "\"q\""}});
        from.system("QN10000", {{"COMPANY", "€uro ÿ"}}, "10.0.0.6");
        from.put("IP.DBF", test::Row{{"SYSID", "QN10000"}} + test::octets("192.168.255.255"));
        from.system("QN12345678");
        from.put("IP.DBF", test::Row{{"SYSID", "QN0999"}} + test::octets("10.0.0.7"));
        from.item("HARDWARE.DBF", "QN0001", "Disk \"fast\", 2 TB", {{"MODEL", long40}});
        from.item("HARDWARE.DBF", "QN0777", "item of no system");
        from.item("SOFTWARE.DBF", "QN10000", "Suite", {{"LICENSEKEY", "ÄÖÜ-äöü-ß"}});
        QTemporaryDir out;
        const csv::ExportSummary s = csv::exportInventory(from.dm, out.path());
        QCOMPARE(s.rows, (std::array<int, 4>{3, 4, 2, 1}));
        const QList<QByteArray> lines = test::fileBytes(out.filePath("Systems.csv")).split('\n');
        QCOMPARE(lines.value(0), QByteArray("\xEF\xBB\xBFSYSID,COMPANY,USERFIRST,USERLAST,PHONE,"
                                            "PH_EXT,LOCATION,ROOM,SECURITY,DATE\r"));
        QCOMPARE(lines.value(1), QString("QN0001,\"Smith, \"\"Jones\"\" & Co\",José,Müller-Œuvre"
                                         ",,,%1,\" 12\",,2026-12-07\r")
                                     .arg(long40)
                                     .toUtf8());

        Db to;
        csv::ImportPlan plan = csv::readImport(out.filePath("Systems.csv"));
        csv::classify(to.dm, plan);
        const csv::ImportResult r = csv::importTicked(to.dm, plan);
        QCOMPARE(r.systems, 5);
        for (const QString& base : kBases) {
            QCOMPARE(to.records(base), from.records(base));
            to.indexesSound(base);
        }
    }

    void initTestCase() {
        m_marked = std::make_unique<Db>();
        m_marked->system("QN0001", {}, "10.0.0.1");
        m_marked->put("IP.DBF", test::Row{{"SYSID", "QN0002"}} + test::octets("1.11.1.1"));
        writeCsv(m_files, "Systems.csv",
                 "SYSID,COMPANY,DATE\r\nQN0200,Acme,2026-01-31\r\nQN0001,,\r\nQN0205,Жук,\r\n"
                 "QN0206," +
                     QByteArray(41, 'x') + ",\r\nQN0208,,2026-02-30\r\nQN0209,Acme\r\n");
        // Columns in another order, LF line ends, no byte-order mark, as spreadsheets write.
        writeCsv(m_files, "IP.csv",
                 "IP1,IP2,IP3,IP4,SYSID,IPSTRING\n10,0,0,50,QN0100,\n10,0,0,60,QN0200,\n"
                 "11,1,1,1,QN0201,\n10,0,0,1,QN0202,\n10,0,0,01,QN0203,\n10,0,0,50,QN0204,\n"
                 "10,0,256,1,QN0207,\n10,0,0,70,,\n10,0,0,71,QN0210,999\n");
        m_plan = csv::readImport(m_files.filePath("IP.csv"));
        csv::classify(m_marked->dm, m_plan);
    }

    void marks_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<csv::Mark>("mark");
        QTest::addColumn<QString>("why");
        using M = csv::Mark;
        QTest::newRow("new") << "QN0200" << M::New << "";
        QTest::newRow("key shared, octets differ") << "QN0201" << M::New << "";
        QTest::newRow("stored address")
            << "QN0202" << M::DuplicateAddress << "10.0.0.1 is recorded";
        QTest::newRow("stored address, 01") << "QN0203" << M::DuplicateAddress << "is recorded";
        QTest::newRow("twice in the file")
            << "QN0204" << M::DuplicateAddress << "IP.csv line 2 as well (System ID QN0100)";
        QTest::newRow("stored System ID") << "QN0001" << M::DuplicateId << "QN0001 is in Systems";
        QTest::newRow("not code page 1252")
            << "QN0205" << M::Invalid << "Systems.csv line 4: COMPANY has the character 'Ж'";
        QTest::newRow("too long") << "QN0206" << M::Invalid
                                  << "at most 40 characters; this one has 41";
        QTest::newRow("octet over 255")
            << "QN0207" << M::Invalid << "IP3: An IP Address CANNOT be over 255";
        QTest::newRow("not a date")
            << "QN0208" << M::Invalid << "DATE \"2026-02-30\" is not a date";
        QTest::newRow("field missing")
            << "QN0209" << M::Invalid << "2 fields where the header has 3";
        QTest::newRow("no System ID") << "" << M::Invalid << "line 9: there is no System ID";
        QTest::newRow("key not the octets") << "QN0210" << M::Invalid << "IPSTRING \"999\"";
    }
    void marks() {
        QFETCH(QString, id);
        QFETCH(csv::Mark, mark);
        QFETCH(QString, why);
        const auto c = std::ranges::find(m_plan.candidates, id, &csv::Candidate::sysId);
        QVERIFY(c != m_plan.candidates.end());
        QCOMPARE(c->mark, mark);
        QVERIFY2(c->why.contains(why), qPrintable(c->why));
        QCOMPARE(c->ticked, mark == csv::Mark::New);
    }

    // Whatever stops an import, every table is as it was.
    void allOrNothing_data() {
        QTest::addColumn<QString>("taken");
        QTest::addColumn<QString>("why");
        QTest::newRow("address taken meanwhile")
            << "address"
            << "the address 10.0.3.2 (System ID QN0301) is recorded now";
        QTest::newRow("System ID taken meanwhile") << "id"
                                                   << "System ID QN0301 is in Systems now";
        QTest::newRow("a value the table refuses") << "value"
                                                   << "Systems.csv line 3";
    }
    void allOrNothing() {
        QFETCH(QString, taken);
        QFETCH(QString, why);
        Db db;
        QTemporaryDir dir;
        writeCsv(dir, "Systems.csv", "SYSID,COMPANY\r\nQN0300,A\r\nQN0301,B\r\n");
        writeCsv(dir, "IP.csv", "SYSID,IP1,IP2,IP3,IP4\r\nQN0300,10,0,3,1\r\nQN0301,10,0,3,2\r\n");
        writeCsv(dir, "Hardware.csv", "SYSID,DESC\r\nQN0300,disk\r\n");
        csv::ImportPlan plan = csv::readImport(dir.filePath("Systems.csv"));
        csv::classify(db.dm, plan);
        auto other = db.box.otherEngine("other");
        if (taken == "address")
            test::put(*other, "IP.DBF", test::Row{{"SYSID", "QN0999"}} + test::octets("10.0.3.2"));
        else if (taken == "id")
            test::put(*other, "SYSTEMS.DBF", {{"SYSID", "QN0301"}});
        else
            plan.rows[0][1].values[1] = "Ж"; // changed after it was marked
        QByteArray before[4];
        for (int k = 0; k < 4; ++k)
            before[k] = db.records(kBases[k]);
        try {
            csv::importTicked(db.dm, plan);
            QFAIL("the import went ahead");
        } catch (const Error& e) {
            QVERIFY2(e.message().startsWith("Nothing was imported: ") && e.message().contains(why),
                     qPrintable(e.message()));
        }
        for (int k = 0; k < 4; ++k)
            QCOMPARE(db.records(kBases[k]), before[k]);
    }

    // A process killed at each point of an import leaves each table as it was or with all
    // of its imported rows, and its index sound; items and address rows come before systems.
    void killedImport_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("committed"); // tables of Hardware, Software, IP, Systems
        QTest::newRow("rows appended, none committed") << "appended" << 0;
        QTest::newRow("after Hardware") << "Hardware" << 1;
        QTest::newRow("after Software") << "Software" << 2;
        QTest::newRow("after IP") << "IP" << 3;
    }
    void killedImport() {
        QFETCH(QString, step);
        QFETCH(int, committed);
        Db db;
        db.system("QN0001", {}, "10.0.0.1");
        db.item("HARDWARE.DBF", "QN0001", "disk");
        db.item("SOFTWARE.DBF", "QN0001", "suite");
        QTemporaryDir dir;
        QByteArray files[4] = {"SYSID,COMPANY\r\n", "SYSID,IP1,IP2,IP3,IP4\r\n", "SYSID,DESC\r\n",
                               "SYSID,DESC\r\n"};
        const int n = 200;
        for (int i = 0; i < n; ++i) {
            const QByteArray id = "QX" + QByteArray::number(1000 + i);
            files[0] += id + ",company " + id + "\r\n";
            files[1] += id + ",10,1," + QByteArray::number(i / 100) + "," +
                        QByteArray::number(i % 100) + "\r\n";
            files[2] += id + ",disk\r\n";
            files[3] += id + ",suite\r\n";
        }
        for (int k = 0; k < 4; ++k)
            writeCsv(dir, kBases[k] + ".csv", files[k]);
        test::Worker worker =
            test::startWorker({"import", db.box.dbPath(), dir.filePath("Systems.csv"), step});
        QCOMPARE(test::waitForLine(*worker), "at " + step);
        worker->kill();
        worker->waitForFinished();
        const QStringList order = {"Hardware", "Software", "IP", "Systems"};
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(db.count(order[k]), 1 + (k < committed ? n : 0));
            db.indexesSound(order[k]);
        }
        // The snapshot the import took first gives the inventory back as it was.
        const auto taken = snapshots::list(db.box.dbPath());
        QVERIFY(taken.size() == 1 && taken[0].reason == "CSV import");
        snapshots::restore(db.box.engine(), taken[0].path);
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(db.count(order[k]), 1);
            db.indexesSound(order[k]);
        }
    }

    // The menu's CSV > Import...: the preview, ticking with the keyboard, the Import button;
    // then CSV > Export... of what is stored.
    void menuRoads() {
        test::Inventory f;
        f.system("QN0001", {}, "10.0.0.1");
        QTemporaryDir dir;
        const QString systems =
            writeCsv(dir, "Systems.csv",
                     "SYSID,USERFIRST,USERLAST\r\nQN0002,Ann,Lee\r\nQN0003,Bo,Ek\r\nQN0004,,\r\n");
        writeCsv(dir, "IP.csv",
                 "SYSID,IP1,IP2,IP3,IP4,COMPUTER\r\nQN0002,10,0,0,2,alee\r\n"
                 "QN0003,10,0,0,1,bek\r\nQN0004,10,0,0,300,x\r\n");
        writeCsv(dir, "Hardware.csv", "SYSID,DESC\r\nQN0002,disk\r\n");
        CsvWindow& w = f.program->csvWindow();
        w.setFileChooser([&](QWidget*) { return systems; });
        f.menu({"CSV", "Import..."});
        QTRY_VERIFY(w.isVisible());
        QTableView* grid = w.ui().PreviewGrid;
        QAbstractItemModelTester tester(grid->model());
        QCOMPARE(test::entries(grid), QStringList({"new", "duplicate address", "invalid"}));
        QCOMPARE(test::entries(grid, PreviewModel::User), QStringList({"Ann Lee", "Bo Ek", ""}));
        auto ticked = [grid](int row) {
            return grid->model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
        };
        QVERIFY(ticked(0) && !ticked(1) && !ticked(2));
        const auto press = [grid](int row) { // a row's box, reached with the arrow keys
            user::clickCell(grid, row, PreviewModel::SysId);
            user::key(Qt::Key_Left);
            user::key(Qt::Key_Space);
        };
        press(2);
        QVERIFY(!ticked(2));
        press(0);
        QVERIFY(!ticked(0) && !w.ui().ImportButton->isEnabled());
        press(0);
        QVERIFY(ticked(0));
        user::clickButton(&w, "Import");
        QVERIFY(!w.isVisible() && grid->model()->rowCount() == 0); // the preview let go
        QCOMPARE(test::said(), QString("1 system imported: 1 systems row, 1 address row, 1 item."));
        QCOMPARE(f.column("SYSTEMS.DBF", "SYSID USERFIRST"),
                 QStringList({"QN0001 ", "QN0002 Ann"}));
        QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList({"", "alee"}));

        // CSV > Export...: the files in the folder chosen, the place in the confirmation.
        QTemporaryDir out;
        w.setFolderChooser([&](QWidget*) { return out.path(); });
        f.menu({"CSV", "Export..."});
        QCOMPARE(test::said(),
                 "The inventory was exported as CSV, one file per table, into " + out.path() +
                     ":\nSystems.csv (2 rows), IP.csv (2 rows), Hardware.csv (1 row), Software.csv "
                     "(0 rows).");
        QCOMPARE(test::fileBytes(out.filePath("IP.csv")).split('\n').value(1),
                 QByteArray("QN0001,,10,0,0,1,10001,,,,,,\r"));
    }
};

QN_GUI_TEST_MAIN(TestExchange)
#include "test_exchange.moc"
