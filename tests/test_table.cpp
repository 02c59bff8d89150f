// The table object and the shared data module over it: order, moves, filters, master/detail,
// key lookups, locate, the OpenClose operations and the filter texts the windows build.
#include "datamodule.h"
#include "error.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace qn;
using test::fieldValues;

class TestTable : public QObject {
    Q_OBJECT
    std::unique_ptr<test::Sandbox> m_box;
    std::vector<std::unique_ptr<Table>> m_tables;
    std::unique_ptr<DataModule> m_dm;

    Table& table(const QString& file, const QString& tag = {}) {
        m_tables.push_back(m_box->open(file, tag));
        return *m_tables.back();
    }
    void addRows(const QString& file, const QStringList& fields, const QList<QStringList>& rows) {
        auto t = m_box->open(file);
        for (const QStringList& row : rows) {
            test::Values values;
            for (int i = 0; i < fields.size(); ++i)
                values.emplace_back(fields[i], row.value(i));
            test::appendRow(*t, values);
        }
    }
    void addSystems(const QList<QStringList>& rows) {
        addRows("Systems.dbf", {"SysID", "UserFirst", "UserLast", "Room"}, rows);
    }

private slots:
    void init() {
        m_dm.reset();
        m_tables.clear();
        m_box = std::make_unique<test::Sandbox>();
        m_box->createInventory();
        m_dm = std::make_unique<DataModule>(m_box->engine());
    }
    void cleanup() {
        m_dm.reset();
        m_tables.clear();
    }

    // Moves, and what observers hear of them and of changes.
    void movesFollowEndAndStartFlags() {
        Table& t = table("Systems.dbf");
        QVERIFY(t.isEmpty() && t.eof() && t.bof());
        t.next();
        QVERIFY(t.eof());
        addSystems({{"A0002"}, {"A0001"}, {"A0003"}});
        QSignalSpy rows(&t, &Table::rowChanged);
        QSignalSpy data(&t, &Table::dataChanged);
        QSignalSpy state(&t, &Table::stateChanged);
        // Where a move ends: the row (physical order first) and the end and start flags.
        auto at = [&](const char* id, bool bof, bool eof) {
            QCOMPARE(t.fieldText("SysID"), QString(id));
            QCOMPARE((QList<bool>{t.bof(), t.eof()}), (QList<bool>{bof, eof}));
        };
        t.first();
        at("A0002", true, false);
        t.prior();
        at("A0002", true, false);
        t.next();
        t.next();
        at("A0003", false, false);
        t.next();
        at("A0003", false, true); // stays on the last row
        t.setIndexName("SysID");
        t.last();
        at("A0003", false, true);
        t.prior();
        at("A0002", false, false);
        QCOMPARE(t.recordCount(), 3);
        QVERIFY(rows.count() >= 4);
        QCOMPARE(state.count(), 0);
        test::editRow(t, {{"Phone", "1"}});
        QVERIFY(state.count() == 2 && data.count() >= 1);
        t.close();
        QVERIFY(!t.isActive());
        QVERIFY_THROWS_EXCEPTION(StoreError, t.fieldText("SysID"));
    }

    // Tag, filter and flag set on an open table (directly or through the module) end on the
    // first row; set through the module on a closed one, they hold at its next open.
    void changingTagFilterOrFlagEndsOnTheFirstRow() {
        addSystems({{"A0003", "Cy", "Z"}, {"A0001", "Al", "Y"}, {"A0002", "Bo", "X"}});
        Table& t = *m_dm->SysTable;
        m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0002"), true, true);
        QCOMPARE(fieldValues(t, "SysID"), QStringList{"A0002"});
        // Reopened in place with the flag off, the same filter text shows every row.
        m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0002"), false, true);
        QCOMPARE(fieldValues(t, "SysID"), (QStringList{"A0001", "A0002", "A0003"}));
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
        // The unescaped form of the old program is an invalid filter, reported as such.
        test::expectStoreError([&] { t.setFilter("SysID = 'O'B1'"); }, "Invalid expression");
        t.setFiltered(false);
        QCOMPARE(t.recordCount(), 3);
        test::expectStoreError([&] { t.setIndexName("NoSuchTag"); }, "NoSuchTag");
        m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0001"), true, false);
        QVERIFY(!t.isActive());
        t.open();
        QCOMPARE(fieldValues(t, "SysID"), QStringList{"A0001"});
        // The usual close leaves everything empty and the table in physical order.
        m_dm->SysTableOpenClose("", "", false, false);
        t.open();
        QCOMPARE(fieldValues(t, "SysID"), (QStringList{"A0003", "A0001", "A0002"}));
    }

    void systemFilterMatchesAnyValue_data() {
        QTest::addColumn<QString>("id");
        for (const char* id : {"A0001", "O'Brien", "it's \"x\"", "a'b\"c[d", ""})
            QTest::addRow("[%s]", id) << QString(id);
    }
    void systemFilterMatchesAnyValue() {
        QFETCH(QString, id);
        addSystems({{"A0009", "Other"}, {id, "Match"}, {id + "x", "Near"}});
        m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter(id), true, true);
        QCOMPARE(fieldValues(*m_dm->SysTable, "UserFirst"), QStringList{"Match"});
    }

    void userAndCategoryFilters() {
        addSystems({{"A0001", "Pat", "O'Brien"},
                    {"A0002", "Pat", "OBrien"},
                    {"A0003", "pat", "O'Brien"},
                    {"A0004", "Bob", "O'Brien"},
                    {"A0005", "Pat", "Smith"},
                    {"O'B1", "Pat", "O'Brien"}});
        m_dm->SysTableOpenClose("User", DataModule::userNameFilter("Pat", "O'Brien"), true, true);
        QCOMPARE(fieldValues(*m_dm->SysTable, "SysID"), (QStringList{"A0001", "O'B1"}));

        addRows("Resources.dbf", {"MAIN", "CATEGORY", "ITEM"},
                {{"HARDWARE", "Modem", "m1"},
                 {"SOFTWARE", "Modem", "s1"},
                 {"HARDWARE", "Disk's", "d1"},
                 {"HARDWARE", "Modem", "m2"}});
        Table* pool = m_dm->ResourceTable;
        for (auto [category, items] : {std::pair{"Modem", QStringList{"m1", "m2"}},
                                       {"Disk's", QStringList{"d1"}},
                                       {"\"quoted\" and 'single'", QStringList{}}}) {
            m_dm->ResourceTableOpenClose(
                "MAIN", DataModule::kindCategoryFilter("HARDWARE", category), true, true);
            QCOMPARE(fieldValues(*pool, "ITEM"), items);
        }
        // The pool's singular name opens Resources.dbf; no second file is made.
        test::appendRow(*pool, {{"MAIN", "AAA"}, {"ITEM", "56k modem"}});
        m_dm->ResourceTableOpenClose("MAIN", "", false, true);
        QCOMPARE(pool->fieldText("ITEM"), QString("56k modem"));
        QVERIFY(!QFile::exists(m_box->file("Resource.dbf")));
        try {
            DataModule::oneSystemFilter("a'b\"c]d");
            QFAIL("a value with every delimiter was accepted");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains("a'b\"c]d") &&
                         e.message().contains("cannot be searched for"),
                     qPrintable(e.message()));
        }
    }

    void detailFollowsItsMaster() {
        addSystems({{"A0001"}, {"A0002"}, {"A0003"}});
        addRows("Hardware.dbf", {"SysID", "Desc"},
                {{"A0002", "disk"}, {"A0001", "cpu"}, {"A0002", "ram"}, {"A0009", "orphan"}});
        Table& sys = table("SYSTEMS.DBF", "SysID");
        Table& detail = table("HARDWARE.DBF", "SysID");
        QCOMPARE(detail.recordCount(), 4); // no master yet
        detail.setMasterSource(&sys);
        detail.setMasterFields("SYSID");
        QCOMPARE(fieldValues(detail, "Desc"), QStringList({"cpu"}));
        sys.next();
        QCOMPARE(fieldValues(detail, "Desc"), QStringList({"disk", "ram"}));
        QCOMPARE(detail.recordCount(), 2);
        detail.last();
        QCOMPARE(detail.fieldText("Desc"), QString("ram"));
        sys.next();
        QVERIFY(detail.isEmpty());
        // A new item for the current system joins the detail rows at once.
        test::appendRow(detail, {{"SysID", "A0003"}, {"Desc", "nic"}});
        QCOMPARE(fieldValues(detail, "Desc"), QStringList({"nic"}));
        // The physical order shows the same subset; a filter narrows it further.
        detail.setIndexName("");
        sys.first();
        QCOMPARE(fieldValues(detail, "Desc"), QStringList({"cpu"}));
        sys.close();
        QCOMPARE(detail.recordCount(), 5); // master closed: every row
        sys.open();
        sys.next();
        detail.setFilter("Desc <> 'disk'");
        detail.setFiltered(true);
        QCOMPARE(fieldValues(detail, "Desc"), QStringList({"ram"}));
        // Ordered on a tag of another field, a detail shows its master's rows in that order.
        addRows("IP.dbf", {"SysID", "Computer"},
                {{"A0002", "zeta"}, {"A0001", "beta"}, {"A0002", "alpha"}});
        Table& ip = table("IP.DBF", "Computer");
        ip.setMasterSource(&sys);
        ip.setMasterFields("SysID");
        QCOMPARE(fieldValues(ip, "Computer"), QStringList({"alpha", "zeta"}));
    }

    // The module's three detail tables follow its systems table and show every row without it;
    // a detail's edit outlives an edit of its master's row.
    void moduleDetailsFollowTheSystems() {
        addSystems({{"A0001", "Al"}, {"A0002"}});
        for (const char* file : {"Hardware.dbf", "Software.dbf"})
            addRows(file, {"SysID"}, {{"A0002"}, {"A0001"}, {"A0002"}});
        addRows("IP.dbf", {"SysID", "Computer"}, {{"A0002"}, {"A0001", "al-pc"}, {"A0002"}});
        auto details = [&](int rows, bool reopen = true) {
            if (reopen) {
                m_dm->IPTableOpenClose("SysID", "", false, true);
                m_dm->HWTableOpenClose("SysID", "", false, true);
                m_dm->SWTableOpenClose("SysID", "", false, true);
            }
            for (Table* t : {m_dm->IPTable, m_dm->HWTable, m_dm->SWTable})
                QCOMPARE(t->recordCount(), rows);
        };
        details(3); // no master open: every row
        // Walked in its master field's order (a range on the tag), the rows must be there too.
        QCOMPARE(fieldValues(*m_dm->IPTable, "SysID").size(), 3);
        DataModule fresh(m_box->engine());
        fresh.HWTable->setMasterFields("");
        fresh.HWTable->open(); // the details' own order is their system's
        QCOMPARE(fieldValues(*fresh.HWTable, "SysID"), (QStringList{"A0001", "A0002", "A0002"}));
        m_dm->SysTableOpenClose("SysID", "", false, true);
        m_dm->SysTable->next();
        details(2);
        m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0001"), true, true);
        QCOMPARE(fieldValues(*m_dm->HWTable, "SysID"), QStringList{"A0001"});
        // The address probe clears the link, then puts it back.
        m_dm->IPTable->setMasterFields("");
        m_dm->IPTableOpenClose("IP", "", false, true);
        QCOMPARE(m_dm->IPTable->recordCount(), 3);
        m_dm->IPTable->setMasterFields("SysID");
        m_dm->IPTableOpenClose("SysID", "", false, true);
        QCOMPARE(m_dm->IPTable->recordCount(), 1);

        // Editing and posting the master's row leaves the detail where it was, still editing.
        Table* ip = m_dm->IPTable;
        ip->edit();
        ip->setFieldText("Computer", "renamed");
        m_dm->SysTable->edit();
        m_dm->SysTable->setFieldText("UserFirst", "Alan");
        m_dm->SysTable->post();
        QCOMPARE(ip->state(), Table::State::Edit);
        QCOMPARE(ip->fieldText("Computer"), QString("renamed"));
        ip->cancel();
        QCOMPARE(fieldValues(*ip, "Computer"), QStringList{"al-pc"});
        m_dm->SysTableOpenClose("", "", false, false);
        details(3, false);
    }

    void keyLookupsOnOneAndTwoFieldTags() {
        addSystems({{"A0001", "Ann", "Lee", "101"},
                    {"A0002", "Ann", "Leeds", "102"},
                    {"A0003", "Bo", "Lee", "101"}});
        Table& t = table("Systems.dbf", "User");
        auto find = [&](const test::Values& key) { return test::findKey(t, key, "SysID"); };
        QCOMPARE(find({{"UserFirst", "Ann"}, {"UserLast", "Leeds"}}), QString("A0002"));
        QCOMPARE(find({{"UserFirst", "Ann"}, {"UserLast", "Le"}}), QString()); // partial: no match
        QCOMPARE(t.fieldText("SysID"), QString("A0002"));                      // position unchanged
        t.setIndexName("Office");
        QCOMPARE(find({{"Room", "101"}}), QString("A0001")); // first of equal keys
        QCOMPARE(find({{"Room", "10"}}), QString());
        QCOMPARE(find({{"Room", "102"}}), QString("A0002"));
        t.remove(); // a deleted row is never found
        QCOMPARE(find({{"Room", "102"}}), QString());
        t.setIndexName(""); // without a tag there is nothing to search
        QVERIFY_THROWS_EXCEPTION(StoreError, find({{"Room", "101"}}));
    }

    void keyLookupOfAWholeNumberAndLocate() {
        addRows("IP.dbf", {"IP2", "IPString", "Computer"},
                {{"11", "11111", "alpha"},
                 {"1", "11111", "BETA"},
                 {"0", "10007", "Gamma"},
                 {"168", "19216801003"}});
        Table& ip = table("IP.dbf", "IP");
        for (auto [key, ip2] :
             {std::pair{10007LL, "0"}, {11111LL, "11"}, {19216801003LL, "168"}, {1111LL, ""}}) {
            ip.setKey();
            ip.setFieldInteger("IPString", key);
            QCOMPARE(ip.gotoKey() ? ip.fieldText("IP2") : QString(), QString(ip2));
        }
        // Locate ignores letter case and trailing blanks, and needs the whole value.
        ip.setIndexName("");
        QVERIFY(ip.locate("COMPUTER", "beta"));
        QCOMPARE(ip.fieldText("Computer"), QString("BETA"));
        QVERIFY(ip.locate("computer", "GAMMA "));
        QVERIFY(!ip.locate("Computer", "gam"));
        QCOMPARE(ip.fieldText("Computer"), QString("Gamma"));
        QVERIFY(!ip.locate("Computer", QString::fromUtf8("Ωmega")));
    }

    void movesPostPendingEditsAndCancelRestores() {
        addSystems({{"A0001", "a"}, {"A0002", "b"}});
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
        hw.post();
        QCOMPARE(hw.recordCount(), 1);
        // Changing the key of the current row keeps it current in its new place.
        test::editRow(t, {{"SysID", "Z0001"}});
        QCOMPARE(t.fieldText("SysID"), QString("Z0001"));
        t.next();
        QVERIFY(t.eof());
        t.prior();
        QCOMPARE(t.fieldText("SysID"), QString("A0002"));
        // Cancel puts back the row, or drops the new one; so does closing.
        for (bool append : {false, true}) {
            append ? t.append() : t.edit();
            t.setFieldText("UserFirst", "changed");
            t.cancel();
            QCOMPARE(t.fieldText("UserFirst"), QString("b"));
        }
        t.append();
        t.close();
        t.open();
        QCOMPARE(t.recordCount(), 2);
    }

    // Two table objects, or the module's pool and spare table under another letter case, on
    // one file share it and see each other's changes at once.
    void twoTablesOnOneFileSeeEachOther() {
        Table& a = table("IP.DBF", "Computer");
        Table& b = table("ip.dbf");
        QSignalSpy data(&a, &Table::dataChanged);
        test::appendRow(b, {{"Computer", "shared"}});
        QVERIFY(data.count() >= 1);
        a.first();
        QCOMPARE(a.fieldText("Computer"), QString("shared"));
        test::editRow(a, {{"Computer", "renamed"}});
        b.first();
        QCOMPARE(b.fieldText("Computer"), QString("renamed"));
        a.file()->verifyIndexes();

        m_dm->IPTableOpenClose("", "", false, true);
        m_dm->DummyTable->setTableName("IP.dbf");
        m_dm->DummyTableOpenClose("", "", false, true);
        QCOMPARE(m_dm->IPTable->file(), m_dm->DummyTable->file());
        test::appendRow(*m_dm->IPTable, {{"Computer", "two"}});
        QCOMPARE(fieldValues(*m_dm->DummyTable, "COMPUTER"), (QStringList{"renamed", "two"}));
    }
};

QTEST_GUILESS_MAIN(TestTable)
#include "test_table.moc"
