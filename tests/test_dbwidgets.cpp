// Data-aware controls over real tables: edit boxes, the grid's model, the navigator.
#include "dbcontrols.h"
#include "error.h"
#include "table.h"
#include "tablemodel.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTest>
#include <QToolButton>

using namespace qn;

class TestDbWidgets : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void modelFollowsTheTable();
    void gridCurrentRowIsTheTablesRow();
    void editBoxWritesAtPost();
    void editBoxCancelAndLimits();
    void navigator();

private:
    void fill(int n);
    std::unique_ptr<test::Sandbox> m_box;
    std::unique_ptr<Table> m_table;
};

void TestDbWidgets::init() {
    m_box = std::make_unique<test::Sandbox>();
    m_box->createInventory();
    m_table = std::make_unique<Table>(m_box->engine());
    m_table->setDatabaseName("IP");
    m_table->setTableName("Hardware.dbf");
}

void TestDbWidgets::cleanup() {
    m_table.reset();
    m_box.reset();
}

void TestDbWidgets::fill(int n) {
    m_table->open();
    for (int i = 0; i < n; ++i) {
        m_table->append();
        m_table->setFieldText("SysID", QString("S%1").arg(i % 2));
        m_table->setFieldText("Desc", QString("item %1").arg(i));
        m_table->post();
    }
}

void TestDbWidgets::modelFollowsTheTable() {
    TableModel model(m_table.get(), {"DESC", "SYSID"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0); // closed: nothing to show
    fill(5);
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("DESC"));
    QCOMPARE(model.index(4, 0).data().toString(), QString("item 4"));
    m_table->setFilter("SysID = 'S1'");
    m_table->setFiltered(true);
    QCOMPARE(model.rowCount(), 2);
    m_table->first();
    m_table->remove();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, 0).data().toString(), QString("item 3"));
    m_table->edit();
    m_table->setFieldText("Desc", "changed");
    QCOMPARE(model.index(0, 0).data().toString(), QString("item 3")); // until posted
    m_table->post();
    QCOMPARE(model.index(0, 0).data().toString(), QString("changed"));
    m_table->close();
    QCOMPARE(model.rowCount(), 0);

    TableModel all(m_table.get(), {});
    QAbstractItemModelTester allTester(&all,
                                       QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_table->setFiltered(false);
    m_table->open();
    QCOMPARE(all.columns().first(), QString("SYSID"));
    QCOMPARE(all.rowCount(), 4);
}

void TestDbWidgets::gridCurrentRowIsTheTablesRow() {
    fill(4);
    DBGrid grid;
    grid.bind(m_table.get(), {"DESC"});
    QAbstractItemModelTester tester(grid.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_table->first();
    m_table->next();
    m_table->next();
    QCOMPARE(grid.currentIndex().row(), 2);
    grid.selectRow(0);
    QCOMPARE(m_table->fieldText("Desc"), QString("item 0"));
    grid.selectRow(3);
    QCOMPARE(m_table->fieldText("Desc"), QString("item 3"));
    // Appending shows the new row at once, as the current one.
    m_table->append();
    m_table->setFieldText("Desc", "new");
    m_table->post();
    QCOMPARE(grid.model()->rowCount(), 5);
    QCOMPARE(grid.currentIndex().row(), 4);
}

void TestDbWidgets::editBoxWritesAtPost() {
    fill(2);
    DBEdit edit;
    edit.bind(m_table.get(), "DESC");
    m_table->first();
    QCOMPARE(edit.text(), QString("item 0"));
    edit.setFocus();
    edit.selectAll();
    QTest::keyClicks(&edit, "typed");
    QCOMPARE(m_table->state(), Table::State::Edit);
    QCOMPARE(m_table->fieldText("Desc"), QString("item 0")); // not yet in the row
    m_table->post();
    QCOMPARE(m_table->fieldText("Desc"), QString("typed"));
    m_table->next();
    QCOMPARE(edit.text(), QString("item 1"));
    // Moving posts what was typed.
    edit.selectAll();
    QTest::keyClicks(&edit, "moved away");
    m_table->prior();
    QCOMPARE(edit.text(), QString("typed"));
    m_table->next();
    QCOMPARE(edit.text(), QString("moved away"));
}

void TestDbWidgets::editBoxCancelAndLimits() {
    fill(1);
    DBEdit edit;
    edit.bind(m_table.get(), "SYSID");
    QCOMPARE(edit.maxLength(), m_table->fieldWidth("SYSID"));
    m_table->first();
    QTest::keyClicks(&edit, "X");
    m_table->cancel();
    QCOMPARE(edit.text(), QString("S0"));
    // A value the field cannot hold is refused at post and the row stays in editing.
    DBEdit desc;
    desc.bind(m_table.get(), "DESC");
    desc.selectAll();
    QTest::sendKeyEvent(QTest::Click, &desc, Qt::Key_unknown, QString::fromUtf8("✓"),
                        Qt::NoModifier);
    QVERIFY_THROWS_EXCEPTION(Error, m_table->post());
    QCOMPARE(m_table->state(), Table::State::Edit);
    m_table->cancel();
    m_table->close();
    QVERIFY(edit.text().isEmpty());
}

void TestDbWidgets::navigator() {
    fill(3);
    DBNavigator nav;
    DBText text;
    nav.bind(m_table.get());
    text.bind(m_table.get(), "DESC");
    m_table->first();
    QCOMPARE(text.text(), QString("item 0"));
    QTest::mouseClick(nav.nextButton(), Qt::LeftButton);
    QTest::mouseClick(nav.nextButton(), Qt::LeftButton);
    QCOMPARE(text.text(), QString("item 2"));
    QTest::mouseClick(nav.nextButton(), Qt::LeftButton);
    QCOMPARE(text.text(), QString("item 2"));
    QVERIFY(!nav.nextButton()->isEnabled());
    QTest::mouseClick(nav.priorButton(), Qt::LeftButton);
    QCOMPARE(text.text(), QString("item 1"));
    QVERIFY(nav.nextButton()->isEnabled());
    m_table->close();
    QVERIFY(!nav.priorButton()->isEnabled());
    QVERIFY(text.text().isEmpty());
}

QTEST_MAIN(TestDbWidgets)
#include "test_dbwidgets.moc"
