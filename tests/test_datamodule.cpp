// The shared data module: its six tables, the OpenClose operations, the master links and the
// filter texts the windows build.
#include "datamodule.h"
#include "error.h"
#include "table.h"
#include "testutil.h"

#include <QFile>
#include <QTest>

using namespace qn;

class TestDataModule : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void designTimeSettings();
    void openSetsTagFilterAndFlag();
    void reopenReselectsInPlaceOnFirstRow();
    void closeStoresSettingsForNextOpen();
    void detailsFollowTheMasterAndShowAllWhenItIsClosed();
    void detailKeepsItsEditWhileTheMasterIsEdited();
    void poolOpensUnderItsSingularName();
    void sameFileInAnotherCaseIsOneTable();
    void filtersMatchAnyValue_data();
    void filtersMatchAnyValue();
    void filterValueWithEveryDelimiterIsRefused();
    void userAndCategoryFilters();

private:
    void addSystem(const QString& id, const QString& first, const QString& last);
    void addIp(const QString& id, const QString& computer, const QString& ip);
    QStringList column(Table* t, const QString& field);

    std::unique_ptr<test::Sandbox> m_box;
    std::unique_ptr<DataModule> m_dm;
};

void TestDataModule::init() {
    m_box = std::make_unique<test::Sandbox>();
    m_box->createInventory();
    m_dm = std::make_unique<DataModule>(m_box->engine());
}

void TestDataModule::cleanup() {
    m_dm.reset();
    m_box.reset();
}

void TestDataModule::addSystem(const QString& id, const QString& first, const QString& last) {
    m_dm->SysTableOpenClose("", "", false, true);
    Table* t = m_dm->SysTable;
    t->append();
    t->setFieldText("SysID", id);
    t->setFieldText("UserFirst", first);
    t->setFieldText("UserLast", last);
    t->post();
    m_dm->SysTableOpenClose("", "", false, false);
}

void TestDataModule::addIp(const QString& id, const QString& computer, const QString& ip) {
    m_dm->IPTableOpenClose("", "", false, true);
    Table* t = m_dm->IPTable;
    t->append();
    t->setFieldText("SysID", id);
    t->setFieldText("Computer", computer);
    t->setFieldText("IPString", ip);
    t->post();
    m_dm->IPTableOpenClose("", "", false, false);
}

QStringList TestDataModule::column(Table* t, const QString& field) {
    QStringList out;
    for (t->first(); !t->eof(); t->next())
        out << t->fieldText(field);
    return out;
}

void TestDataModule::designTimeSettings() {
    QCOMPARE(m_dm->objectName(), QString("TDataModule11"));
    Table* const tables[] = {m_dm->SysTable, m_dm->IPTable,       m_dm->HWTable,
                             m_dm->SWTable,  m_dm->ResourceTable, m_dm->DummyTable};
    DataSource* const sources[] = {m_dm->SysSource, m_dm->IPSource,       m_dm->HWSource,
                                   m_dm->SWSource,  m_dm->ResourceSource, m_dm->DummySource};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(tables[i]->databaseName(), QString("IP"));
        QVERIFY(!tables[i]->isActive());
        QCOMPARE(sources[i]->table(), tables[i]);
    }
    QCOMPARE(m_dm->IPTable->tableName(), QString("IP.DBF"));
    QCOMPARE(m_dm->ResourceTable->tableName(), QString("Resource.dbf"));
    QVERIFY(m_dm->DummyTable->tableName().isEmpty());
    for (Table* d : {m_dm->IPTable, m_dm->HWTable, m_dm->SWTable}) {
        QCOMPARE(d->indexName(), QString("SYSID"));
        QCOMPARE(d->masterSource(), m_dm->SysTable);
        QCOMPARE(d->masterFields(), QString("SYSID"));
    }
    QVERIFY(m_dm->SysTable->masterSource() == nullptr);
}

void TestDataModule::openSetsTagFilterAndFlag() {
    addSystem("A0002", "Bea", "Zed");
    addSystem("A0001", "Al", "Young");
    m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0002"), true, true);
    QVERIFY(m_dm->SysTable->isActive());
    QCOMPARE(m_dm->SysTable->indexName(), QString("SysID"));
    QCOMPARE(column(m_dm->SysTable, "SysID"), QStringList{"A0002"});
    // The same filter text with the flag off shows every row, in tag order.
    m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0002"), false, true);
    QCOMPARE(column(m_dm->SysTable, "SysID"), (QStringList{"A0001", "A0002"}));
    // An unknown tag is the store's error and stops the caller.
    QVERIFY_THROWS_EXCEPTION(StoreError, m_dm->SysTableOpenClose("NoSuchTag", "", false, true));
}

void TestDataModule::reopenReselectsInPlaceOnFirstRow() {
    addSystem("A0003", "Cy", "Able");
    addSystem("A0001", "Al", "Young");
    addSystem("A0002", "Bea", "Zed");
    m_dm->SysTableOpenClose("", "", false, true);
    m_dm->SysTable->last();
    QCOMPARE(m_dm->SysTable->fieldText("SysID"), QString("A0002"));
    m_dm->SysTableOpenClose("SysID", "", false, true);
    QCOMPARE(m_dm->SysTable->fieldText("SysID"), QString("A0001"));
    m_dm->SysTable->next();
    m_dm->SysTableOpenClose("User", "", false, true);
    QCOMPARE(m_dm->SysTable->fieldText("UserFirst"), QString("Al"));
    m_dm->SysTableOpenClose("SysID", "SysID > 'A0001'", true, true);
    QCOMPARE(m_dm->SysTable->fieldText("SysID"), QString("A0002"));
    QVERIFY(m_dm->SysTable->isActive());
}

void TestDataModule::closeStoresSettingsForNextOpen() {
    addSystem("A0002", "Bea", "Zed");
    addSystem("A0001", "Al", "Young");
    m_dm->SysTableOpenClose("", "", false, true);
    m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0001"), true, false);
    QVERIFY(!m_dm->SysTable->isActive());
    QCOMPARE(m_dm->SysTable->indexName(), QString("SysID"));
    QVERIFY(m_dm->SysTable->filtered());
    m_dm->SysTable->open();
    QCOMPARE(column(m_dm->SysTable, "SysID"), QStringList{"A0001"});
    // The usual close leaves everything empty and the table in physical order.
    m_dm->SysTableOpenClose("", "", false, false);
    m_dm->SysTable->open();
    QCOMPARE(column(m_dm->SysTable, "SysID"), (QStringList{"A0002", "A0001"}));
}

void TestDataModule::detailsFollowTheMasterAndShowAllWhenItIsClosed() {
    addSystem("A0001", "Al", "Young");
    addSystem("A0002", "Bea", "Zed");
    addIp("A0002", "bea-pc", "19216801002");
    addIp("A0001", "al-pc", "19216801001");
    addIp("A0002", "bea-mac", "19216801003");

    m_dm->IPTableOpenClose("SysID", "", false, true);
    QCOMPARE(m_dm->IPTable->recordCount(), 3); // no master open: every row

    m_dm->SysTableOpenClose("SysID", "", false, true);
    m_dm->IPTableOpenClose("SysID", "", false, true);
    QCOMPARE(column(m_dm->IPTable, "Computer"), QStringList{"al-pc"});
    m_dm->SysTable->next();
    QCOMPARE(column(m_dm->IPTable, "Computer"), (QStringList{"bea-pc", "bea-mac"}));
    m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("A0001"), true, true);
    QCOMPARE(column(m_dm->IPTable, "Computer"), QStringList{"al-pc"});

    // The address probe clears the link, then puts it back.
    m_dm->IPTable->setMasterFields("");
    m_dm->IPTableOpenClose("IP", "", false, true);
    QCOMPARE(m_dm->IPTable->recordCount(), 3);
    m_dm->IPTable->setKey();
    m_dm->IPTable->setFieldInteger("IPString", 19216801003LL);
    QVERIFY(m_dm->IPTable->gotoKey());
    QCOMPARE(m_dm->IPTable->fieldText("Computer"), QString("bea-mac"));
    m_dm->IPTable->setMasterFields("SysID");
    m_dm->IPTableOpenClose("SysID", "", false, true);
    QCOMPARE(column(m_dm->IPTable, "Computer"), QStringList{"al-pc"});

    m_dm->SysTableOpenClose("", "", false, false);
    QCOMPARE(m_dm->IPTable->recordCount(), 3);
}

void TestDataModule::detailKeepsItsEditWhileTheMasterIsEdited() {
    addSystem("A0001", "Al", "Young");
    addIp("A0001", "al-pc", "1");
    addIp("A0001", "al-mac", "2");
    m_dm->SysTableOpenClose("SysID", "", false, true);
    m_dm->IPTableOpenClose("SysID", "", false, true);
    Table* ip = m_dm->IPTable;
    ip->next();
    ip->edit();
    ip->setFieldText("Computer", "renamed");
    // Editing and posting the master's row leaves the detail where it was, still editing.
    m_dm->SysTable->edit();
    m_dm->SysTable->setFieldText("UserFirst", "Alan");
    m_dm->SysTable->post();
    QCOMPARE(ip->state(), Table::State::Edit);
    QCOMPARE(ip->fieldText("Computer"), QString("renamed"));
    ip->cancel();
    QCOMPARE(column(ip, "Computer"), (QStringList{"al-pc", "al-mac"}));
}

void TestDataModule::poolOpensUnderItsSingularName() {
    QVERIFY(QFile::exists(m_box->file("Resources.dbf")));
    QVERIFY(!QFile::exists(m_box->file("Resource.dbf")));
    m_dm->ResourceTableOpenClose("", "", false, true);
    Table* t = m_dm->ResourceTable;
    t->append();
    t->setFieldText("MAIN", "HARDWARE");
    t->setFieldText("CATEGORY", "Modem");
    t->setFieldText("ITEM", "56k modem");
    t->post();
    m_dm->ResourceTableOpenClose("MAIN", "", false, true);
    QCOMPARE(t->fieldText("ITEM"), QString("56k modem"));
    m_dm->ResourceTableOpenClose("", "", false, false);
    // The row went into Resources.dbf; no second file was made.
    QVERIFY(!QFile::exists(m_box->file("Resource.dbf")));
    QVERIFY(QFile(m_box->file("Resources.dbf")).size() >
            QFile(test::buildDir() + "/Master/Resources.dbf").size());
}

void TestDataModule::sameFileInAnotherCaseIsOneTable() {
    addIp("A0001", "one", "10000001");
    m_dm->IPTableOpenClose("", "", false, true);
    m_dm->DummyTable->setTableName("IP.dbf");
    m_dm->DummyTableOpenClose("", "", false, true);
    QCOMPARE(m_dm->IPTable->file(), m_dm->DummyTable->file());
    m_dm->IPTable->append();
    m_dm->IPTable->setFieldText("Computer", "two");
    m_dm->IPTable->post();
    QCOMPARE(column(m_dm->DummyTable, "COMPUTER"), (QStringList{"one", "two"}));
}

void TestDataModule::filtersMatchAnyValue_data() {
    QTest::addColumn<QString>("id");
    QTest::newRow("plain") << "A0001";
    QTest::newRow("single quote") << "O'Brien";
    QTest::newRow("single and double") << "it's \"x\"";
    QTest::newRow("all but bracket") << "a'b\"c[d";
    QTest::newRow("blank") << "";
}

void TestDataModule::filtersMatchAnyValue() {
    QFETCH(QString, id);
    addSystem("A0009", "Other", "Row");
    addSystem(id, "Match", "Me");
    addSystem(id + "x", "Near", "Miss");
    m_dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter(id), true, true);
    QCOMPARE(column(m_dm->SysTable, "UserFirst"), QStringList{"Match"});
}

void TestDataModule::filterValueWithEveryDelimiterIsRefused() {
    try {
        DataModule::oneSystemFilter("a'b\"c]d");
        QFAIL("no error");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains("a'b\"c]d"), qPrintable(e.message()));
    }
}

void TestDataModule::userAndCategoryFilters() {
    addSystem("A0001", "Pat", "O'Brien");
    addSystem("A0002", "Pat", "OBrien");
    addSystem("A0003", "pat", "O'Brien");
    m_dm->SysTableOpenClose("User", DataModule::userNameFilter("Pat", "O'Brien"), true, true);
    QCOMPARE(column(m_dm->SysTable, "SysID"), QStringList{"A0001"});

    m_dm->ResourceTableOpenClose("", "", false, true);
    Table* t = m_dm->ResourceTable;
    const char* rows[][3] = {{"HARDWARE", "Modem", "m1"},
                             {"SOFTWARE", "Modem", "s1"},
                             {"HARDWARE", "Disk's", "d1"},
                             {"HARDWARE", "Modem", "m2"}};
    for (auto& r : rows) {
        t->append();
        t->setFieldText("MAIN", r[0]);
        t->setFieldText("CATEGORY", r[1]);
        t->setFieldText("ITEM", r[2]);
        t->post();
    }
    m_dm->ResourceTableOpenClose("MAIN", DataModule::kindCategoryFilter("HARDWARE", "Modem"), true,
                                 true);
    QCOMPARE(column(t, "ITEM"), (QStringList{"m1", "m2"}));
    m_dm->ResourceTableOpenClose("MAIN", DataModule::kindCategoryFilter("HARDWARE", "Disk's"), true,
                                 true);
    QCOMPARE(column(t, "ITEM"), QStringList{"d1"});
}

QTEST_GUILESS_MAIN(TestDataModule)
#include "test_datamodule.moc"
