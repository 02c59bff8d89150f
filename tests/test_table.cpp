// The table object: order, moves, filters, master/detail, key lookups and locate.
#include "datamodule.h"
#include "error.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QTest>

using namespace qn;

class TestTable : public QObject {
    Q_OBJECT
private slots:
    void init();
    void movesFollowEndAndStartFlags();
    void changingTagFilterOrFlagEndsOnTheFirstRow();
    void filtersOfTheThreeShapes();
    void detailFollowsItsMaster();
    void keyLookupsOnOneAndTwoFieldTags();
    void keyLookupOfAWholeNumber();
    void locateIgnoresCase();
    void movesPostPendingEdits();
    void cancelRestoresTheRow();
    void observersHearOfChanges();
    void twoTablesOnOneFileSeeEachOther();

private:
    Table& table(const QString& file, const QString& tag = {});
    void addSystem(const QString& id, const QString& first, const QString& last,
                   const QString& room = {}, const QString& company = {});
    QStringList column(Table& t, const QString& field);
    std::unique_ptr<test::Sandbox> m_box;
    std::vector<std::unique_ptr<Table>> m_tables;
};

void TestTable::init() {
    m_tables.clear();
    m_box = std::make_unique<test::Sandbox>();
    m_box->createInventory();
}

Table& TestTable::table(const QString& file, const QString& tag) {
    m_tables.push_back(std::make_unique<Table>(m_box->engine()));
    Table& t = *m_tables.back();
    t.setDatabaseName("IP");
    t.setTableName(file);
    t.setIndexName(tag);
    t.open();
    return t;
}

void TestTable::addSystem(const QString& id, const QString& first, const QString& last,
                          const QString& room, const QString& company) {
    Table t(m_box->engine());
    t.setDatabaseName("IP");
    t.setTableName("SYSTEMS.DBF");
    t.open();
    t.append();
    t.setFieldText("SysID", id);
    t.setFieldText("UserFirst", first);
    t.setFieldText("UserLast", last);
    t.setFieldText("Room", room);
    t.setFieldText("Company", company);
    t.post();
}

QStringList TestTable::column(Table& t, const QString& field) {
    QStringList out;
    for (t.first(); !t.eof(); t.next())
        out << t.fieldText(field);
    return out;
}

void TestTable::movesFollowEndAndStartFlags() {
    Table& t = table("Systems.dbf");
    QVERIFY(t.isEmpty());
    QVERIFY(t.eof() && t.bof());
    t.next();
    QVERIFY(t.eof());
    addSystem("A0002", "b", "b");
    addSystem("A0001", "a", "a");
    addSystem("A0003", "c", "c");
    t.first();
    QVERIFY(t.bof() && !t.eof());
    QCOMPARE(t.fieldText("SysID"), QString("A0002")); // physical order
    t.prior();
    QVERIFY(t.bof());
    QCOMPARE(t.fieldText("SysID"), QString("A0002"));
    t.next();
    t.next();
    QVERIFY(!t.eof());
    t.next();
    QVERIFY(t.eof());
    QCOMPARE(t.fieldText("SysID"), QString("A0003")); // stays on the last row
    t.setIndexName("SysID");
    t.last();
    QVERIFY(t.eof());
    QCOMPARE(t.fieldText("SysID"), QString("A0003"));
    t.prior();
    QVERIFY(!t.eof() && !t.bof());
    QCOMPARE(t.fieldText("SysID"), QString("A0002"));
    QCOMPARE(t.recordCount(), 3);
    t.close();
    QVERIFY(!t.isActive());
    QVERIFY_THROWS_EXCEPTION(StoreError, t.fieldText("SysID"));
}

void TestTable::changingTagFilterOrFlagEndsOnTheFirstRow() {
    addSystem("A0003", "Cy", "Z");
    addSystem("A0001", "Al", "Y");
    addSystem("A0002", "Bo", "X");
    Table& t = table("SYSTEMS.DBF", "SysID");
    t.last();
    t.setIndexName("User");
    QCOMPARE(t.fieldText("UserFirst"), QString("Al"));
    t.last();
    t.setFilter("UserLast <> 'Y'"); // not yet filtered: no effect on the rows
    QCOMPARE(t.recordCount(), 3);
    t.setFiltered(true);
    QCOMPARE(t.fieldText("UserFirst"), QString("Bo"));
    QCOMPARE(t.recordCount(), 2);
    t.setIndexName("");
    QCOMPARE(t.fieldText("SysID"), QString("A0003"));
    t.setFiltered(false);
    QCOMPARE(t.recordCount(), 3);
    try {
        t.setIndexName("NoSuchTag");
        QFAIL("a missing tag was accepted");
    } catch (const StoreError& e) {
        QVERIFY(e.message().contains("NoSuchTag"));
    }
}

void TestTable::filtersOfTheThreeShapes() {
    addSystem("A0001", "Ann", "O'Brien");
    addSystem("A0002", "Ann", "Smith");
    addSystem("A0003", "Bob", "O'Brien");
    addSystem("O'B1", "Ann", "O'Brien");
    Table& t = table("Systems.dbf", "SysID");
    t.setFilter(DataModule::userNameFilter("Ann", "O'Brien"));
    t.setFiltered(true);
    QCOMPARE(column(t, "SysID"), QStringList({"A0001", "O'B1"}));
    t.setFilter(DataModule::oneSystemFilter("O'B1"));
    QCOMPARE(column(t, "SysID"), QStringList({"O'B1"}));
    t.setFilter(DataModule::oneSystemFilter("A000"));
    QVERIFY(t.isEmpty());

    Table& pool = table("Resources.dbf");
    for (auto [m, c] : {std::pair{"HARDWARE", "CPU"}, std::pair{"SOFTWARE", "CPU"},
                        std::pair{"HARDWARE", "MODEM"}, std::pair{"HARDWARE", "CPU"}}) {
        pool.append();
        pool.setFieldText("MAIN", m);
        pool.setFieldText("CATEGORY", c);
        pool.post();
    }
    pool.setIndexName("MAIN");
    pool.setFilter(DataModule::kindCategoryFilter("HARDWARE", "CPU"));
    pool.setFiltered(true);
    QCOMPARE(pool.recordCount(), 2);
    pool.setFilter(DataModule::kindCategoryFilter("HARDWARE", "\"quoted\" and 'single'"));
    QVERIFY(pool.isEmpty());
    // The unescaped form of the old program is an invalid filter, reported as such.
    try {
        t.setFilter("SysID = 'O'B1'");
        QFAIL("an invalid filter was accepted");
    } catch (const StoreError& e) {
        QVERIFY(e.message().startsWith("Invalid expression"));
    }
    try {
        DataModule::oneSystemFilter("a'b\"c]d");
        QFAIL("a value with every delimiter was accepted");
    } catch (const Error& e) {
        QVERIFY(e.message().contains("cannot be searched for"));
    }
}

void TestTable::detailFollowsItsMaster() {
    addSystem("A0001", "a", "a");
    addSystem("A0002", "b", "b");
    addSystem("A0003", "c", "c");
    Table& hw = table("Hardware.dbf");
    for (auto [id, desc] : {std::pair{"A0002", "disk"}, std::pair{"A0001", "cpu"},
                            std::pair{"A0002", "ram"}, std::pair{"A0009", "orphan"}}) {
        hw.append();
        hw.setFieldText("SysID", id);
        hw.setFieldText("Desc", desc);
        hw.post();
    }
    hw.close();
    Table& sys = table("SYSTEMS.DBF", "SysID");
    Table& detail = table("HARDWARE.DBF", "SysID");
    QCOMPARE(detail.recordCount(), 4); // no master yet
    detail.setMasterSource(&sys);
    detail.setMasterFields("SYSID");
    QCOMPARE(column(detail, "Desc"), QStringList({"cpu"}));
    sys.next();
    QCOMPARE(column(detail, "Desc"), QStringList({"disk", "ram"}));
    QCOMPARE(detail.recordCount(), 2);
    detail.last();
    QCOMPARE(detail.fieldText("Desc"), QString("ram"));
    sys.next();
    QVERIFY(detail.isEmpty());
    // A new item for the current system joins the detail rows at once.
    detail.append();
    detail.setFieldText("SysID", "A0003");
    detail.setFieldText("Desc", "nic");
    detail.post();
    QCOMPARE(column(detail, "Desc"), QStringList({"nic"}));
    // The physical order shows the same subset; a filter narrows it further.
    detail.setIndexName("");
    sys.first();
    QCOMPARE(column(detail, "Desc"), QStringList({"cpu"}));
    sys.close();
    QCOMPARE(detail.recordCount(), 5); // master closed: every row
    sys.open();
    sys.next();
    detail.setFilter("Desc <> 'disk'");
    detail.setFiltered(true);
    QCOMPARE(column(detail, "Desc"), QStringList({"ram"}));
    // Clearing the master field lets the detail show all rows, setting it again restricts it.
    detail.setFiltered(false);
    detail.setMasterFields("");
    QCOMPARE(detail.recordCount(), 5);
    detail.setMasterFields("SysID");
    QCOMPARE(detail.recordCount(), 2);
}

void TestTable::keyLookupsOnOneAndTwoFieldTags() {
    addSystem("A0001", "Ann", "Lee", "101");
    addSystem("A0002", "Ann", "Leeds", "102");
    addSystem("A0003", "Bo", "Lee", "101");
    Table& t = table("Systems.dbf", "User");
    t.setKey();
    t.setFieldText("UserFirst", "Ann");
    t.setFieldText("UserLast", "Leeds");
    QVERIFY(t.gotoKey());
    QCOMPARE(t.fieldText("SysID"), QString("A0002"));
    t.setKey();
    t.setFieldText("UserFirst", "Ann");
    t.setFieldText("UserLast", "Le"); // a partial value is not a match
    QVERIFY(!t.gotoKey());
    QCOMPARE(t.fieldText("SysID"), QString("A0002")); // position unchanged
    t.setIndexName("Office");
    t.setKey();
    t.setFieldText("Room", "101");
    QVERIFY(t.gotoKey());
    QCOMPARE(t.fieldText("SysID"), QString("A0001")); // first of equal keys
    t.setKey();
    t.setFieldText("Room", "10");
    QVERIFY(!t.gotoKey());
    // A deleted row is never found.
    t.setKey();
    t.setFieldText("Room", "102");
    QVERIFY(t.gotoKey());
    t.remove();
    t.setKey();
    t.setFieldText("Room", "102");
    QVERIFY(!t.gotoKey());
    // Without a tag there is nothing to search.
    t.setIndexName("");
    t.setKey();
    t.setFieldText("Room", "101");
    QVERIFY_THROWS_EXCEPTION(StoreError, t.gotoKey());
}

void TestTable::keyLookupOfAWholeNumber() {
    Table& ip = table("IP.dbf", "IP");
    for (auto [a, b, c, d] : {std::tuple{"1", "11", "1", "1"}, std::tuple{"11", "1", "1", "1"},
                              std::tuple{"10", "0", "0", "7"}}) {
        ip.append();
        ip.setFieldText("IP1", a);
        ip.setFieldText("IP2", b);
        ip.setFieldText("IP3", c);
        ip.setFieldText("IP4", d);
        ip.setFieldText("IPString", QString(a) + b + c + d);
        ip.post();
    }
    ip.setKey();
    ip.setFieldInteger("IPString", 10007);
    QVERIFY(ip.gotoKey());
    QCOMPARE(ip.fieldText("IP4"), QString("7"));
    ip.setKey();
    ip.setFieldInteger("IPString", 11111);
    QVERIFY(ip.gotoKey());
    QCOMPARE(ip.fieldText("IP2"), QString("11")); // first row of the shared key
    ip.setKey();
    ip.setFieldInteger("IPString", 1111);
    QVERIFY(!ip.gotoKey());
}

void TestTable::locateIgnoresCase() {
    Table& ip = table("IP.dbf");
    for (const char* name : {"alpha", "BETA", "Gamma"}) {
        ip.append();
        ip.setFieldText("Computer", name);
        ip.post();
    }
    QVERIFY(ip.locate("COMPUTER", "beta"));
    QCOMPARE(ip.fieldText("Computer"), QString("BETA"));
    QVERIFY(ip.locate("computer", "GAMMA "));
    QVERIFY(!ip.locate("Computer", "gam"));
    QCOMPARE(ip.fieldText("Computer"), QString("Gamma"));
    QVERIFY(!ip.locate("Computer", QString::fromUtf8("Ωmega")));
}

void TestTable::movesPostPendingEdits() {
    addSystem("A0001", "a", "a");
    addSystem("A0002", "b", "b");
    Table& t = table("Systems.dbf", "SysID");
    t.edit();
    t.setFieldText("Phone", "555-0100");
    t.next();
    QCOMPARE(t.state(), Table::State::Browse);
    t.first();
    QCOMPARE(t.fieldText("Phone"), QString("555-0100"));
    // Editing an empty table turns into a new row.
    Table& hw = table("Hardware.dbf");
    hw.edit();
    QCOMPARE(hw.state(), Table::State::Insert);
    hw.setFieldText("Desc", "first");
    hw.post();
    QCOMPARE(hw.recordCount(), 1);
    // Changing the key of the current row keeps it current in its new place.
    t.first();
    t.edit();
    t.setFieldText("SysID", "Z0001");
    t.post();
    QCOMPARE(t.fieldText("SysID"), QString("Z0001"));
    t.next();
    QVERIFY(t.eof());
    t.prior();
    QCOMPARE(t.fieldText("SysID"), QString("A0002"));
}

void TestTable::cancelRestoresTheRow() {
    addSystem("A0001", "a", "a");
    Table& t = table("Systems.dbf");
    t.edit();
    t.setFieldText("UserFirst", "changed");
    t.cancel();
    QCOMPARE(t.fieldText("UserFirst"), QString("a"));
    t.append();
    t.setFieldText("UserFirst", "new");
    t.cancel();
    QCOMPARE(t.fieldText("UserFirst"), QString("a"));
    QCOMPARE(t.recordCount(), 1);
    t.append();
    t.setFieldText("UserFirst", "dropped on close");
    t.close();
    t.open();
    QCOMPARE(t.recordCount(), 1);
}

void TestTable::observersHearOfChanges() {
    addSystem("A0001", "a", "a");
    addSystem("A0002", "b", "b");
    Table& t = table("Systems.dbf");
    QSignalSpy rows(&t, &Table::rowChanged);
    QSignalSpy data(&t, &Table::dataChanged);
    QSignalSpy state(&t, &Table::stateChanged);
    t.next();
    QCOMPARE(rows.count(), 1);
    t.edit();
    QCOMPARE(state.count(), 1);
    t.setFieldText("Phone", "1");
    t.post();
    QCOMPARE(state.count(), 2);
    QVERIFY(data.count() >= 1);
    t.setIndexName("SysID");
    QVERIFY(rows.count() >= 3);
}

void TestTable::twoTablesOnOneFileSeeEachOther() {
    Table& a = table("IP.DBF", "Computer");
    Table& b = table("ip.dbf");
    QSignalSpy data(&a, &Table::dataChanged);
    b.append();
    b.setFieldText("Computer", "shared");
    b.post();
    QVERIFY(data.count() >= 1);
    a.first();
    QCOMPARE(a.fieldText("Computer"), QString("shared"));
    a.edit();
    a.setFieldText("Computer", "renamed");
    a.post();
    b.first();
    QCOMPARE(b.fieldText("Computer"), QString("renamed"));
    a.file()->verifyIndexes();
}

QTEST_GUILESS_MAIN(TestTable)
#include "test_table.moc"
