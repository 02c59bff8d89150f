// The inventory's rules for systems and the pool, called directly over real tables.
#include "error.h"
#include "fixtures.h"
#include "poolrules.h"
#include "systemrules.h"

#include <QTest>

using namespace qn;
namespace sr = qn::systemrules;

namespace {

struct Tables {
    Tables() { box.createInventory(); }
    void put(const QString& file, const test::Row& row) { test::put(box.engine(), file, row); }
    void addresses(const QStringList& dotted) {
        Table t(box.engine());
        t.setDatabaseName("IP");
        t.setTableName("IP.DBF");
        t.open();
        for (const QString& a : dotted) {
            t.append();
            const test::Row r = test::octets(a);
            for (auto it = r.begin(); it != r.end(); ++it)
                t.setFieldText(it.key(), it.value());
            t.post();
        }
    }
    test::Sandbox box;
    DataModule dm{box.engine()};
};

} // namespace

class TestSystemRules : public QObject {
    Q_OBJECT
private slots:
    void machineTypes();
    void idNumbers_data();
    void idNumbers();
    void nextSystemId_data();
    void nextSystemId();
    void recordSystemKeepsAFreeShownId();
    void freeHostAndRecordedAddress_data();
    void freeHostAndRecordedAddress();
    void namesAndCase();
    void poolListsAndKinds();
    void poolRowToItem_data();
    void poolRowToItem();
};

void TestSystemRules::machineTypes() {
    const QStringList& types = sr::machineTypes();
    QCOMPARE(types.size(), 10);
    for (const QString& e : types)
        QCOMPARE(sr::descriptionOfCode(sr::typeCode(e)), sr::typeDescription(e));
    QCOMPARE(sr::typeCode("PRNT - Printer"), QString("PRNT"));
    QCOMPARE(sr::typeDescription("OS2W - OS2 Warp machine"), QString("OS2 Warp machine"));
    QVERIFY(sr::typeCode("").isEmpty() && sr::typeDescription("").isEmpty());
    QVERIFY(sr::descriptionOfCode("unix").isNull() && sr::descriptionOfCode("").isNull());
    QCOMPARE(sr::addressKey("1", "11", "1", "1"), QString("11111"));
}

void TestSystemRules::idNumbers_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QString>("formatted"); // formatId of "ABC" and the number
    QTest::newRow("three-letter prefix") << "ABC0007" << qint64(7) << "ABC0007";
    QTest::newRow("past 9999") << "ABC12345" << qint64(12345) << "ABC12345";
    QTest::newRow("no prefix") << "0042" << qint64(42) << "ABC0042";
    QTest::newRow("long prefix") << "SITE-NORTH-0100" << qint64(100) << "ABC0100";
    QTest::newRow("trailing blanks") << "AB0009  " << qint64(9) << "ABC0009";
    QTest::newRow("no digits") << "ABC" << qint64(-1) << "";
    QTest::newRow("digits inside only") << "A1B" << qint64(-1) << "";
    QTest::newRow("empty") << "" << qint64(-1) << "";
}

void TestSystemRules::idNumbers() {
    QFETCH(QString, id);
    QFETCH(qint64, number);
    QFETCH(QString, formatted);
    QCOMPARE(sr::idNumber(id), number);
    if (number >= 0)
        QCOMPARE(sr::formatId("ABC", number), formatted);
    QCOMPARE(sr::formatId("", 5), QString("0005"));
}

void TestSystemRules::nextSystemId_data() {
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty table") << QStringList{} << "ABC0001";
    QTest::newRow("next number") << QStringList{"ABC0007", "ABC0099", "ABC0012"} << "ABC0100";
    QTest::newRow("other prefix continues") << QStringList{"XYZ0099"} << "ABC0100";
    QTest::newRow("past 9999") << QStringList{"ABC9999"} << "ABC10000";
    QTest::newRow("after 10000") << QStringList{"ABC9999", "ABC10000"} << "ABC10001";
    QTest::newRow("prefix sorting first") << QStringList{"ZZZ0050", "AAA0003"} << "ABC0051";
    QTest::newRow("prefixes of other lengths")
        << QStringList{"A0007", "ABCD0040", "AB0002", "ABC"} << "ABC0041";
    QTest::newRow("a gap below the greatest") << QStringList{"ABC0001", "ABC0009"} << "ABC0010";
    QTest::newRow("leading zeros beyond four digits")
        << QStringList{"ABC000000012", "ABC0011"} << "ABC0013";
    // Every four-digit ID from 9950 sorts between 10000 and the top: passed over by heads.
    QStringList many;
    for (int n = 9950; n <= 9999; ++n)
        many << QString("ABC%1").arg(n);
    many << "ABC10000"
         << "ABC10001"
         << "ABC10005"
         << "ABC100000";
    QTest::newRow("longest numbers few, shorter ones many") << many << "ABC100001";
    many.removeLast();
    QTest::newRow("many shorter above the five-digit ones") << many << "ABC10006";
}

void TestSystemRules::nextSystemId() {
    QFETCH(QStringList, stored);
    QFETCH(QString, expected);
    Tables t;
    for (const QString& id : stored)
        t.put("SYSTEMS.DBF", {{"SYSID", id}});
    QCOMPARE(sr::nextSystemId(t.dm, "ABC"), expected);
    QVERIFY(!t.dm.SysTable->isActive());
    QCOMPARE(sr::systemIdTaken(t.dm, expected), false);
    if (!stored.isEmpty())
        QVERIFY(sr::systemIdTaken(t.dm, stored.first()));
}

// The shown ID is kept while it is free; taken (or empty), the next one is used.
void TestSystemRules::recordSystemKeepsAFreeShownId() {
    Tables t;
    t.put("SYSTEMS.DBF", {{"SYSID", "Q-0041"}});
    QStringList written;
    auto write = [&](const QString& id) {
        written << id;
        t.put("SYSTEMS.DBF", {{"SYSID", id}});
    };
    QCOMPARE(sr::recordSystem(t.dm, "Q-", "Q-0050", write), QString("Q-0050"));
    QCOMPARE(sr::recordSystem(t.dm, "Q-", "Q-0041", write), QString("Q-0051"));
    QCOMPARE(sr::recordSystem(t.dm, "Q-", "", write), QString("Q-0052"));
    QCOMPARE(written, (QStringList{"Q-0050", "Q-0051", "Q-0052"}));
    QVERIFY_THROWS_EXCEPTION(
        Error, sr::recordSystem(t.dm, "Q-", "", [](const QString&) { throw Error("refused"); }));
}

// Addresses that share a key (1.11.1.1 and 11.1.1.1 both give 11111) are told apart; the
// probe is key lookups only.
void TestSystemRules::freeHostAndRecordedAddress_data() {
    QTest::addColumn<QString>("first3");
    QTest::addColumn<int>("free");
    QTest::newRow("after two") << "10.0.0" << 3;
    QTest::newRow("key shared with 11.1.1.1") << "1.11.1" << 1;
    QTest::newRow("next of 11.1.1") << "11.1.1" << 2;
    QTest::newRow("only 255 free") << "192.168.100" << 255;
    QTest::newRow("all taken") << "192.168.200" << 0;
    QTest::newRow("unknown net") << "172.16.0" << 1;
}

void TestSystemRules::freeHostAndRecordedAddress() {
    QFETCH(QString, first3);
    QFETCH(int, free);
    Tables t;
    QStringList stored{"10.0.0.1", "10.0.0.2", "11.1.1.1"};
    for (int n = 1; n <= 255; ++n)
        stored << "192.168.100." + QString::number(n) << "192.168.200." + QString::number(n);
    stored.removeOne("192.168.100.255");
    t.addresses(stored);
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

void TestSystemRules::namesAndCase() {
    QCOMPARE(sr::asciiLower(QString::fromUtf8("ÄBC-Dé")), QString::fromUtf8("Äbc-dé"));
    QCOMPARE(sr::asciiUpper(QString::fromUtf8("äbc-dé")), QString::fromUtf8("äBC-Dé"));
    QCOMPARE(sr::asciiLower("AZ[@"), QString("az[@"));
    QCOMPARE(sr::asciiUpper("az{`"), QString("AZ{`"));
    const auto n = sr::suggestNames("ann", "LEE");
    QCOMPARE((QStringList{n.computer, n.alias1, n.alias2, n.alias3, n.alias4}),
             (QStringList{"alee", "alee", "lee", "ALEE", "LEE"}));
    QVERIFY(sr::suggestNames("", "").computer.isEmpty());
}

void TestSystemRules::poolListsAndKinds() {
    QCOMPARE(pool::mainKinds(), (QStringList{"HARDWARE", "SOFTWARE"}));
    const QStringList subs = pool::subCategories();
    QCOMPARE(subs.size(), 18);
    QVERIFY(std::is_sorted(subs.begin(), subs.end(), pool::listsBefore));
    QVERIFY(pool::listsBefore("CDROM", "CD-RW") && pool::listsBefore("O'BRIEN", "OBRIENS"));
    QVERIFY(pool::listsBefore("cpu", "MODEM") && !pool::listsBefore("CPU", "CPU"));
    QVERIFY(pool::listsBefore("CPU", "cpu") != pool::listsBefore("cpu", "CPU"));
    QCOMPARE(pool::kindOf("HARDWARE"), pool::Kind::Hardware);
    QCOMPARE(pool::kindOf("SOFTWARE"), pool::Kind::Software);
    QCOMPARE(pool::kindOf("hardware"), pool::Kind::Neither);
    QCOMPARE(pool::kindOf("FIRMWARE"), pool::Kind::Neither);
}

void TestSystemRules::poolRowToItem_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("modelField");
    QTest::newRow("hardware") << "HARDWARE.DBF" << int(pool::Kind::Hardware) << "MODEL";
    QTest::newRow("software") << "SOFTWARE.DBF" << int(pool::Kind::Software) << "LICENSEKEY";
}

void TestSystemRules::poolRowToItem() {
    QFETCH(QString, file);
    QFETCH(int, kind);
    QFETCH(QString, modelField);
    Tables t;
    t.put("RESOURCES.DBF", {{"MAIN", "X"},
                            {"CATEGORY", "O'BRIEN'S"},
                            {"ITEM", "Disk"},
                            {"MDL_LIC", "D-1"},
                            {"SERIAL", "S9"},
                            {"PART", "P9"},
                            {"MANUF", "Acme"}});
    Table poolRow(t.box.engine()), items(t.box.engine());
    for (Table* x : {&poolRow, &items})
        x->setDatabaseName("IP");
    poolRow.setTableName("RESOURCES.DBF");
    items.setTableName(file);
    poolRow.open();
    items.open();
    items.append();
    pool::fillItem(poolRow, items, pool::Kind(kind), "QN0002");
    items.post();
    items.first();
    const QStringList fields{"SYSID", "DESC", modelField, "SERIALNUM", "PART", "MANUF", "CATEGORY"};
    QStringList got;
    for (const QString& f : fields)
        got << items.fieldText(f);
    QCOMPARE(got, (QStringList{"QN0002", "Disk", "D-1", "S9", "P9", "Acme", "O'BRIEN'S"}));
}

QTEST_GUILESS_MAIN(TestSystemRules)
#include "test_systemrules.moc"
