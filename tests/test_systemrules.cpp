// The inventory's rules for systems, searching and the pool, called directly over real tables.
#include "error.h"
#include "filelock.h"
#include "fixtures.h"
#include "items.h"
#include "recording.h"
#include "search.h"
#include "session.h"
#include "systemrules.h"

using namespace qn;
namespace sr = qn::systemrules;

using test::Row;
using test::Tables;

namespace {

// Six systems to search: two addresses share a key, names repeat, some fields are empty.
void searchable(Tables& t) {
    const Row pat{{"USERFIRST", "Pat"}, {"USERLAST", "O'Brien"}};
    t.system("QN0001", pat + Row{{"ROOM", "101"}}, "11.1.1.1",
             {{"COMPUTER", "pat-pc"}, {"ALIAS1", "www"}, {"ALIAS2", "mail"}});
    t.system("QN0002", pat + Row{{"ROOM", "102"}}, "1.11.1.1",
             {{"COMPUTER", "pat-mac"}, {"ALIAS2", "www"}, {"ALIAS3", "ftp"}});
    t.system("QN0003", {{"USERFIRST", "Kim"}, {"USERLAST", "Ode"}}, "10.1..",
             {{"COMPUTER", "kim"}, {"ALIAS3", "kimbox"}});
    t.system("QN0004", {{"ROOM", "404"}}, "192.168.100.200", {{"COMPUTER", "blank"}});
    t.system("QN0005", {{"ROOM", "405"}});
    t.system("QN0006", {{"USERLAST", "Solo"}});
    t.system("QN0007", {{"USERFIRST", "Mary"}, {"USERLAST", "Ann Lee"}});
}

} // namespace

class TestSystemRules : public QObject {
    Q_OBJECT
private slots:
    // Type entries, the letter case of proposed names and the pool's lists.
    void plainRules() {
        for (const QString& e : sr::machineTypes())
            QCOMPARE(sr::descriptionOfCode(sr::typeCode(e)), sr::typeDescription(e));
        QCOMPARE(sr::typeDescription("OS2W - OS2 Warp machine"), QString("OS2 Warp machine"));
        QVERIFY(sr::descriptionOfCode("unix").isNull() && sr::descriptionOfCode("").isNull());
        QCOMPARE(sr::asciiLower(QString::fromUtf8("ÄBC-DéAZ[@")), QString::fromUtf8("Äbc-déaz[@"));
        QCOMPARE(sr::asciiUpper(QString::fromUtf8("äbc-déaz{`")), QString::fromUtf8("äBC-DéAZ{`"));
        const auto n = sr::suggestNames("ann", "LEE");
        QCOMPARE((QStringList{n.computer, n.alias1, n.alias2, n.alias3, n.alias4}),
                 (QStringList{"alee", "alee", "lee", "ALEE", "LEE"}));
        QVERIFY(sr::suggestNames("", "").computer.isEmpty());
        const QStringList subs = pool::subCategories();
        QVERIFY(std::is_sorted(subs.begin(), subs.end(), pool::listsBefore));
        QVERIFY(pool::listsBefore("CDROM", "CD-RW") && pool::listsBefore("O'BRIEN", "OBRIENS"));
        QVERIFY(pool::listsBefore("cpu", "MODEM") && !pool::listsBefore("CPU", "CPU"));
        QVERIFY(pool::listsBefore("CPU", "cpu") != pool::listsBefore("cpu", "CPU"));
        using K = pool::Kind;
        QVERIFY(pool::kindOf("HARDWARE") == K::Hardware && pool::kindOf("SOFTWARE") == K::Software);
        QVERIFY(pool::kindOf("hardware") == K::Neither && pool::kindOf("FIRMWARE") == K::Neither);
    }

    void nextSystemId_data() {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty table") << QStringList{} << "ABC0001";
        QTest::newRow("next number") << QStringList{"ABC0007", "ABC0099", "ABC0012"} << "ABC0100";
        QTest::newRow("other prefix continues") << QStringList{"XYZ0099"} << "ABC0100";
        QTest::newRow("past 9999") << QStringList{"ABC9999"} << "ABC10000";
        QTest::newRow("after 10000") << QStringList{"ABC9999", "ABC10000"} << "ABC10001";
        QTest::newRow("prefix sorting first") << QStringList{"ZZZ0050", "AAA0003"} << "ABC0051";
        QTest::newRow("no prefix, a long one") << QStringList{"0042", "SITE-NORTH-0100"} << "0101";
        QTest::newRow("prefixes of other lengths")
            << QStringList{"A0007", "ABCD0040", "AB0002", "ABC"} << "ABC0041";
        QTest::newRow("a gap below the greatest") << QStringList{"ABC0001", "ABC0009"} << "ABC0010";
        QTest::newRow("leading zeros beyond four digits")
            << QStringList{"ABC000000012", "ABC0011"} << "ABC0013";
        // Every four-digit ID from 9950 sorts between 10000 and the top: passed over by heads.
        QStringList many;
        for (int n = 9950; n <= 9999; ++n)
            many << QString("ABC%1").arg(n);
        many += QStringList{"ABC10000", "ABC10001", "ABC10005", "ABC100000"};
        QTest::newRow("longest numbers few, shorter ones many") << many << "ABC100001";
        many.removeLast();
        QTest::newRow("many shorter above the five-digit ones") << many << "ABC10006";
        // Past 32 IDs of other shapes the greatest is looked for by heads, which can miss some.
        QStringList shapes{"ABC05", "ABC45"};
        for (int n = 50; n <= 99; ++n)
            shapes << QString("ABC%1X").arg(n);
        QTest::newRow("heads with a gap") << shapes << "ABC0046";
        QTest::newRow("a dash after the digits")
            << QStringList{"ABC05", "ABC06X", "ABC1-"} << "ABC0006";
        QTest::newRow("full width, no digits")
            << QStringList{"ABC0007", "NODIGITSATALLXX"} << "ABC0008";
        QStringList hidden{"ABCDEFGHIJK0001"};
        for (int n = 900; n <= 940; ++n)
            hidden << QString("ABCDEFGHIJK%1X").arg(n);
        QTest::newRow("a hidden ID is not given again") << hidden << "ABCDEFGHIJK0002";
    }

    void nextSystemId() {
        QFETCH(QStringList, stored);
        QFETCH(QString, expected);
        Tables t;
        for (const QString& id : stored)
            t.system(id);
        QString prefix = expected;
        while (!prefix.isEmpty() && prefix.back().isDigit())
            prefix.chop(1);
        QCOMPARE(sr::nextSystemId(t.dm, prefix), expected);
        QVERIFY(!t.dm.SysTable->isActive());
        QCOMPARE(sr::systemIdTaken(t.dm, expected), false);
        if (!stored.isEmpty())
            QVERIFY(sr::systemIdTaken(t.dm, stored.first()));
    }

    // Addresses that share a key (1.11.1.1 and 11.1.1.1 both give 11111) are told apart; the
    // probe is key lookups only.
    void freeHostAndRecordedAddress_data() {
        QTest::addColumn<QString>("first3");
        QTest::addColumn<int>("free");
        QTest::newRow("after two") << "10.0.0" << 3;
        QTest::newRow("key shared with 11.1.1.1") << "1.11.1" << 1;
        QTest::newRow("next of 11.1.1") << "11.1.1" << 2;
        QTest::newRow("only 255 free") << "192.168.100" << 255;
        QTest::newRow("all taken") << "192.168.200" << 0;
        QTest::newRow("unknown net") << "172.16.0" << 1;
    }

    void freeHostAndRecordedAddress() {
        QFETCH(QString, first3);
        QFETCH(int, free);
        Tables t;
        QStringList stored{"10.0.0.1", "10.0.0.2", "11.1.1.1"};
        for (int n = 1; n <= 255; ++n)
            stored << "192.168.100." + QString::number(n) << "192.168.200." + QString::number(n);
        stored.removeOne("192.168.100.255");
        auto ipRows = t.box.open("IP.DBF");
        for (const QString& a : stored) {
            const Row r = test::octets(a);
            test::appendRow(*ipRows, {r.keyValueBegin(), r.keyValueEnd()});
        }
        ipRows->close();
        const QStringList o = first3.split(u'.');
        const Table::Counters before = Table::counters();
        QCOMPARE(sr::firstFreeHost(t.dm, o[0], o[1], o[2]), free);
        const quint64 lookups = Table::counters().keyLookups - before.keyLookups;
        QCOMPARE(lookups, quint64(free ? free : 255));
        QVERIFY(Table::counters().rowsRead - before.rowsRead <= 300 && !t.dm.IPTable->isActive());
        QCOMPARE(t.dm.IPTable->masterFields(), QString("SysID"));
        Table& ip = *t.dm.IPTable;
        const QString last = QString::number(free ? free : 255);
        QCOMPARE(sr::addressRecorded(ip, o + QStringList{last}), free == 0);
        if (free > 1)
            QVERIFY(sr::addressRecorded(ip, o + QStringList{QString::number(free - 1)}));
        // The row being edited does not count against itself.
        QVERIFY(!sr::addressRecorded(ip, {"10", "0", "0", "1"}, 1));
        QVERIFY(sr::addressRecorded(ip, {"10", "0", "0", "1"}, 2));
        QVERIFY(!sr::addressRecorded(ip, {"1", "2", "3", QString(20, u'4')}));
    }

    // The values each criterion offers: addresses of shared keys apart, each user name once.
    void searchValues() {
        Tables t;
        searchable(t);
        const QStringList values[] = {
            {"1.11.1.1", "10.1..", "11.1.1.1", "192.168.100.200"},
            {"ftp", "kimbox", "mail", "www", "www"},
            {"101", "102", "404", "405"},
            {"blank", "kim", "pat-mac", "pat-pc"},
            {" ", " Solo", "Kim Ode", "Mary Ann Lee", "Pat O'Brien"},
            {"QN0001", "QN0002", "QN0003", "QN0004", "QN0005", "QN0006", "QN0007"}};
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(search::values(t.dm, search::Criterion(c)), values[c]);
            QVERIFY(search::prompt(search::Criterion(c)).startsWith("Enter "));
        }
        QVERIFY(!t.dm.DummyTable->isActive());
    }

    void searchFind_data() {
        QTest::addColumn<int>("criterion");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("found"); // the systems the filter selects
        const struct {
            const char *tag, *value, *found;
            int criterion;
        } rows[] = {{"address", "192.168.100.200", "QN0004", 0},
                    {"address sharing a key, 1", "1.11.1.1", "QN0002", 0},
                    {"address sharing a key, 2", "11.1.1.1", "QN0001", 0},
                    {"address of two octets", "10.1", "QN0003", 0},
                    {"unknown address", "9.9.9.9", "", 0},
                    {"alias 3", "ftp", "QN0002", 1},
                    {"alias 1 before another's alias 2", "www", "QN0001", 1},
                    {"unknown alias", "nothere", "", 1},
                    {"office", "102", "QN0002", 2},
                    {"empty office", "", "QN0003", 2},
                    {"computer", "pat-mac", "QN0002", 3},
                    {"user", "Kim Ode", "QN0003", 4},
                    {"user with two systems", "Pat O'Brien", "QN0001 QN0002", 4},
                    {"last name only", "Solo", "QN0006", 4},
                    {"two-word last name", "Mary Ann Lee", "QN0007", 4},
                    {"empty names", " ", "QN0004 QN0005", 4},
                    {"system ID", "QN0005", "QN0005", 5},
                    {"longer than any system ID", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "", 5}};
        for (const auto& r : rows)
            QTest::newRow(r.tag) << r.criterion << QString(r.value) << QString(r.found);
    }

    void searchFind() {
        QFETCH(int, criterion);
        QFETCH(QString, value);
        QFETCH(QString, found);
        Tables t;
        searchable(t);
        const QString filter = search::find(t.dm, search::Criterion(criterion), value);
        QVERIFY(!t.dm.DummyTable->isActive());
        QStringList selected;
        if (!filter.isNull()) {
            const TableSession s(t.dm, t.dm.SysTable, &DataModule::SysTableOpenClose, "SysID",
                                 TableSession::Mode::Take, filter);
            for (s->first(); !s->eof(); s->next())
                selected << s->fieldText("SysID");
        }
        QCOMPARE(selected.join(' '), found);
        QCOMPARE(search::notFoundMessage(search::Criterion(criterion)),
                 QString(criterion == 1 ? "Cannot that Alias!" : "System Not Found!"));
        search::openForSystemInfo(t.dm, filter);
        QVERIFY(t.dm.SysTable->filtered() && t.dm.SysTable->indexName() == "SysID");
        for (Table* x : {t.dm.IPTable, t.dm.HWTable, t.dm.SWTable})
            QVERIFY(x->isActive() && x->indexName() == "SysID" && !x->filtered());
    }

    void octetRefusal_data() {
        QTest::addColumn<QString>("octet");
        QTest::addColumn<QString>("refusal"); // the start of it
        for (const char* ok : {"0", "7", "255", "007"})
            QTest::newRow(ok) << ok << "";
        QTest::newRow("256") << "256"
                             << "An IP Address CANNOT be over 255!";
        for (const char* bad : {"", "12.", "+1", "-1", " 1", "x"})
            QTest::newRow(bad) << bad << QString("\"%1\" is not a number").arg(bad);
    }

    void octetRefusal() {
        QFETCH(QString, octet);
        QFETCH(QString, refusal);
        const QString got = sr::octetRefusal(octet);
        QVERIFY2(refusal.isEmpty() ? got.isEmpty() : got.startsWith(refusal), qPrintable(got));
    }

    // Both rows of a system or neither; the shown ID is kept while it is free (an empty one counts
    // as taken). The fields typed are stored as the Add System window's test shows.
    void writeSystem() {
        Tables t;
        t.system("QN0001", {{"COMPANY", "Zeta"}});
        t.system("QN0002", {{"COMPANY", "Acme"}});
        t.system("QN0003", {{"COMPANY", "Zeta"}});
        QCOMPARE(sr::companies(t.dm), (QStringList{"Acme", "Zeta"}));
        SystemRecord r{"Acme", "Pat",  "O'Brien", "555-0199", "12",  "HQ",
                       "4.12", "high", "pat",     "192",      "168", "1",
                       "20",   "pat",  "o'brien", "PAT",      "OB",  "PRNT - Printer"};
        QCOMPARE(sr::writeSystem(t.dm, "QN", "QN0003", r), QString("QN0004"));
        QVERIFY(!t.rows("SYSTEMS.DBF").value(3)["DATE"].isEmpty());
        r.typeEntry.clear();
        QCOMPARE(sr::writeSystem(t.dm, "QN", "QN0009", r), QString("QN0009"));
        QCOMPARE(t.column("IP.DBF", "SYSID IP1 IP2 IP3 TYPE TYPEDESC"),
                 (QStringList{"QN0004 192 168 1 PRNT Printer", "QN0009 192 168 1  "}));
        // Too long for the systems row, or for the address row: nothing of it stays.
        r.location = QString(200, 'x');
        QVERIFY_THROWS_EXCEPTION(Error, sr::writeSystem(t.dm, "QN", "", r));
        r.location = "HQ";
        r.computer = QString(31, 'c');
        QVERIFY_THROWS_EXCEPTION(Error, sr::writeSystem(t.dm, "QN", "", r));
        QCOMPARE(t.rows("SYSTEMS.DBF").size() + t.rows("IP.DBF").size(), 5 + 2);
        r.computer = "pat";
        QCOMPARE(sr::writeSystem(t.dm, "QN", "", r), QString("QN0010"));
        QVERIFY(!t.dm.SysTable->isActive() && !t.dm.IPTable->isActive());
    }

    // An item too long for its fields is refused before anything is written, and never half
    // stored (the pool's own refusal is the Resources window's test).
    void items() {
        Tables t;
        auto hw = t.box.open("HARDWARE.DBF");
        const QStringList& fields = sr::hardwareFields();
        QStringList values{"Disk", "Acme", "D-1", "S9"};
        sr::checkItemFits(*hw, fields, values);
        sr::storeItem(*hw, fields, values, "QN0003");
        values[3] = QString(hw->fieldWidth("SerialNum") + 1, 's');
        QVERIFY_THROWS_EXCEPTION(Error, sr::checkItemFits(*hw, fields, values));
        QVERIFY_THROWS_EXCEPTION(Error, sr::storeItem(*hw, fields, values, "QN0003"));
        values[3].chop(1);
        sr::checkItemFits(*hw, fields, values);
        QCOMPARE(hw->state(), Table::State::Browse);
        QCOMPARE(t.column("HARDWARE.DBF", "SYSID MODEL MANUF SERIALNUM"),
                 QStringList{"QN0003 D-1 Acme S9"});
    }

    void giveAndReturn_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("hardware") << int(pool::Kind::Hardware);
        QTest::newRow("software") << int(pool::Kind::Software);
    }

    // A resource given to a system and put back into the pool comes back as it was; when the pool
    // row cannot be deleted, the item is taken back (never in two places).
    void giveAndReturn() {
        QFETCH(int, kind);
        const QString main = kind ? "SOFTWARE" : "HARDWARE", file = main + ".DBF";
        const QString modelField = kind ? "LICENSEKEY" : "MODEL";
        Tables t;
        const Row made{{"MDL_LIC", "D-1"}, {"SERIAL", "S9"}, {"PART", "P9"}, {"MANUF", "Acme"}};
        t.resource(main, "O'BRIEN'S", "Disk", made);
        t.resource(main, "O'BRIEN'S", "Kept", made);
        const QList<Row> before = t.rows("RESOURCES.DBF");
        auto poolTable = t.box.open("RESOURCES.DBF");
        pool::giveToSystem(t.dm, *poolTable, pool::Kind(kind), "QN0002");
        QCOMPARE(t.column("RESOURCES.DBF", "ITEM"), QStringList{"Kept"});
        QCOMPARE(test::fields(t.rows(file).value(0),
                              "SYSID DESC SERIALNUM PART MANUF CATEGORY " + modelField),
                 QString("QN0002 Disk S9 P9 Acme O'BRIEN'S D-1"));
        QVERIFY(!t.dm.HWTable->isActive() && !t.dm.SWTable->isActive());

        auto items = t.box.open(file);
        pool::returnToPool(t.dm, *items, pool::Kind(kind));
        QVERIFY(!t.dm.ResourceTable->isActive());
        QCOMPARE(t.rows("RESOURCES.DBF").value(1), before.value(0));

        // Another program holds the pool row: the item written is deleted again.
        auto other = t.box.otherEngine("other");
        auto held = test::Sandbox::openTable(*other, "RESOURCES.DBF");
        held->edit();
        setLockTimeout(std::chrono::milliseconds(50));
        poolTable->first();
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 pool::giveToSystem(t.dm, *poolTable, pool::Kind(kind), "QN0003"));
        QCOMPARE(t.column(file, "SYSID"), QStringList{"QN0002"});
        QCOMPARE(t.rows("RESOURCES.DBF").size(), 2);
    }

    // A borrowed table leaves a window's open table on its row and filter; a taken one is closed.
    void sessions() {
        Tables t;
        for (const char* id : {"QN0003", "QN0001", "QN0002"})
            t.system(id);
        QCOMPARE(pool::systemIds(t.dm), (QStringList{"QN0001", "QN0002", "QN0003"}));
        QVERIFY(!t.dm.SysTable->isActive());
        t.dm.SysTableOpenClose("SysID", DataModule::oneSystemFilter("QN0002"), true, true);
        QCOMPARE(pool::systemIds(t.dm), (QStringList{"QN0001", "QN0002", "QN0003"}));
        QVERIFY(t.dm.SysTable->filtered() && t.dm.SysTable->fieldText("SysID") == "QN0002");
        {
            const TableSession taken(t.dm, t.dm.SysTable, &DataModule::SysTableOpenClose, "SysID");
            QVERIFY(!taken.isPrivate() && !t.dm.SysTable->filtered());
        }
        QVERIFY(!t.dm.SysTable->isActive());
    }
};

QTEST_GUILESS_MAIN(TestSystemRules)
#include "test_systemrules.moc"
