// Data-aware controls over real tables: edit boxes, the grid's model, the navigator.
#include "dbcontrols.h"
#include "error.h"
#include "table.h"
#include "tablemodel.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

using namespace qn;
using Tester = QAbstractItemModelTester;
constexpr auto kQtTest = Tester::FailureReportingMode::QtTest;

class TestDbWidgets : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_box = std::make_unique<test::Sandbox>();
        m_box->createInventory();
        m_table = m_box->open("Hardware.dbf");
        m_table->close();
    }
    void cleanup() {
        m_table.reset();
        m_box.reset();
    }
    void modelFollowsTheTable() {
        TableModel model(m_table.get(), {"DESC", "SYSID"});
        Tester tester(&model, kQtTest);
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
    }
    void editBoxCancelAndLimits() {
        fill(1);
        DBEdit edit;
        edit.bind(m_table.get(), "SYSID");
        edit.show();
        QCOMPARE(edit.maxLength(), m_table->fieldWidth("SYSID"));
        m_table->first();
        QTest::keyClicks(&edit, "X");
        m_table->cancel();
        QCOMPARE(edit.text(), QString("S0"));
        // A value the field cannot hold is refused at post and the row stays in editing.
        DBEdit desc;
        desc.bind(m_table.get(), "DESC");
        desc.show();
        desc.selectAll();
        QTest::sendKeyEvent(QTest::Click, &desc, Qt::Key_unknown, QString::fromUtf8("✓"),
                            Qt::NoModifier);
        QVERIFY_THROWS_EXCEPTION(Error, m_table->post());
        QCOMPARE(m_table->state(), Table::State::Edit);
        m_table->cancel();
        // Closing the table empties the bound controls and stops the navigator.
        DBText text;
        DBNavigator nav;
        text.bind(m_table.get(), "DESC");
        nav.bind(m_table.get());
        text.show();
        nav.show();
        QVERIFY(text.text() == "item 0" && nav.nextButton()->isEnabled());
        m_table->close();
        QVERIFY(edit.text().isEmpty() && text.text().isEmpty() && !nav.nextButton()->isEnabled());
    }
    // Bound controls of a hidden window read nothing while a handler walks their table; shown,
    // they load once.
    void hiddenControlsWaitUntilShown() {
        fill(300);
        QWidget window;
        auto* edit = new DBEdit(&window);
        auto* text = new DBText(&window);
        auto* grid = new DBGrid(&window);
        edit->bind(m_table.get(), "DESC");
        text->bind(m_table.get(), "DESC");
        grid->bind(m_table.get(), {"DESC"});
        const quint64 reloads = TableModel::reloads();
        const quint64 rows = Table::counters().rowsRead;
        int moves = 0;
        for (m_table->first(); !m_table->eof(); m_table->next())
            ++moves;
        m_table->setFilter("SysID = 'S1'");
        m_table->setFiltered(true);
        m_table->first();
        QCOMPARE(TableModel::reloads(), reloads);
        QVERIFY(edit->text().isEmpty() && text->text().isEmpty());
        QCOMPARE(grid->model()->rowCount(), 0);
        // The walk read each row once (and the refiltering a row or two); the controls nothing.
        QVERIFY2(Table::counters().rowsRead - rows <= quint64(moves) + 4,
                 qPrintable(QString::number(Table::counters().rowsRead - rows)));

        window.show();
        QCOMPARE(TableModel::reloads(), reloads + 1);
        QCOMPARE(edit->text(), QString("item 1"));
        QCOMPARE(text->text(), QString("item 1"));
        QCOMPARE(grid->currentIndex().row(), 0);
        // Shown, moving and editing the row reload nothing; a post reloads once.
        m_table->next();
        QCOMPARE(grid->currentIndex().row(), 1);
        m_table->edit();
        m_table->cancel();
        QCOMPARE(TableModel::reloads(), reloads + 1);
        test::editRow(*m_table, {{"Desc", "changed"}});
        QCOMPARE(TableModel::reloads(), reloads + 2);
        QCOMPARE(grid->model()->index(1, 0).data().toString(), QString("changed"));
        window.hide();
        m_table->close();
        m_table->open();
        QCOMPARE(TableModel::reloads(), reloads + 2);
    }
    void heldTableNotifiesOnceAtTheEnd() {
        fill(20);
        int rows = 0, data = 0, states = 0;
        connect(m_table.get(), &Table::rowChanged, this, [&] { ++rows; });
        connect(m_table.get(), &Table::dataChanged, this, [&] { ++data; });
        connect(m_table.get(), &Table::stateChanged, this, [&] { ++states; });
        {
            Table::HoldObservers hold(*m_table);
            for (m_table->first(); !m_table->eof(); m_table->next()) {
            }
            m_table->setKey();
            m_table->setFieldText("SysID", "S1");
            QVERIFY_THROWS_EXCEPTION(Error, m_table->gotoKey()); // no tag: refused, still held
            QCOMPARE(rows + data + states, 0);
        }
        QCOMPARE(rows, 1);
        QCOMPARE(data + states, 0);
        {
            Table::HoldObservers outer(*m_table);
            {
                Table::HoldObservers inner(*m_table);
                m_table->close();
            }
            QCOMPARE(rows + data + states, 1);
        }
        QCOMPARE(states, 1); // it closed
        QCOMPARE(data, 1);
        QCOMPARE(rows, 1); // "rows changed" covers the row
    }
    // A header click reads each row once for its place and key (numbers by value), a longer
    // filter only the rows already shown; closing the table brings back its own order. The grid
    // fetches as it scrolls and keeps its place; its current row is the table's both ways.
    void gridSortsFiltersAndFetches() {
        fill(1000);
        DBGrid grid;
        grid.resize(300, 200);
        grid.bind(m_table.get(), {"DESC", "SYSID"});
        grid.show();
        Tester tester(grid.model(), kQtTest);
        QCoreApplication::processEvents();
        QHeaderView* header = grid.horizontalHeader();
        TableModel* model = grid.tableModel();
        auto clickHeader = [&] {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
            QCoreApplication::processEvents();
        };
        quint64 rows = Table::counters().rowsRead;
        const quint64 reloads = TableModel::reloads();
        clickHeader();
        QCOMPARE(model->index(2, 0).data().toString(), QString("item 2"));
        QCOMPARE(model->index(10, 0).data().toString(), QString("item 10"));
        QVERIFY(Table::counters().rowsRead - rows <= 2000 + 100);
        clickHeader();
        QCOMPARE(model->index(0, 0).data().toString(), QString("item 999"));
        QCOMPARE(TableModel::reloads() - reloads, quint64(2));

        model->setFilterText("ITEM 5");
        QCOMPARE(model->rowCount(), 111); // 5, 50-59, 500-599
        rows = Table::counters().rowsRead;
        model->setFilterText("item 55");
        QCoreApplication::processEvents();
        QVERIFY2(Table::counters().rowsRead - rows <= 111 + 11,
                 qPrintable(QString::number(Table::counters().rowsRead - rows)));
        QCOMPARE(model->rowCount(), 11);
        QCOMPARE(model->index(0, 0).data().toString(), QString("item 559"));
        QCOMPARE(m_table->fieldText("Desc"), QString("item 559")); // the current row is one shown

        m_table->close();
        m_table->open();
        QCOMPARE(header->sortIndicatorSection(), -1);
        QCOMPARE(model->index(2, 0).data().toString(), QString("item 2"));
        QCoreApplication::processEvents();
        const int first = model->rowCount();
        QVERIFY2(first > 0 && first < 200, qPrintable(QString::number(first)));
        // Scrolled to the end of what is fetched, the grid fetches more.
        grid.scrollToBottom();
        QCoreApplication::processEvents();
        QVERIFY(model->rowCount() > first);
        while (model->canFetchMore({}))
            model->fetchMore({});
        QCOMPARE(model->rowCount(), 1000);
        QCoreApplication::processEvents();
        grid.scrollTo(model->index(600, 0), QAbstractItemView::PositionAtTop);
        QVERIFY(grid.verticalScrollBar()->value() > 500);
        // A post reloads the rows, not the place.
        grid.selectRow(650);
        const int scroll = grid.verticalScrollBar()->value();
        QCOMPARE(m_table->fieldText("Desc"), QString("item 650"));
        test::editRow(*m_table, {{"Desc", "edited"}});
        QCOMPARE(grid.verticalScrollBar()->value(), scroll);
        QCOMPARE(model->index(650, 0).data().toString(), QString("edited"));
        QCOMPARE(grid.currentIndex().row(), 650);
        // Jumping to the last row fetches up to it; an appended row shows at once, as the current.
        m_table->close();
        m_table->open();
        m_table->last();
        QCOMPARE(grid.currentIndex().row(), 999);
        test::appendRow(*m_table, {{"Desc", "new"}});
        QCOMPARE(model->rowCount(), 1001);
        QCOMPARE(grid.currentIndex().row(), 1000);
    }

private:
    void fill(int n) {
        m_table->open();
        for (int i = 0; i < n; ++i)
            test::appendRow(*m_table, {{"SysID", QString("S%1").arg(i % 2)},
                                       {"Desc", QString("item %1").arg(i)}});
    }
    std::unique_ptr<test::Sandbox> m_box;
    std::unique_ptr<Table> m_table;
};

QTEST_MAIN(TestDbWidgets)
#include "test_dbwidgets.moc"
