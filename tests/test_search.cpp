// Finding a system as a user does and handing it to System Info (the criteria themselves are
// rule tests).
#include "fixtures.h"
#include "searchwindow.h"
#include "tablemodel.h"
#include "ui_searchwindow.h"
#include "ui_systeminfowindow.h"

#include <QCompleter>

using namespace qn;
namespace user = test::user;

namespace {

struct Fixture : test::Inventory {
    Fixture() {
        for (int i = 1; i < 400; ++i)
            system(QString("QN%1").arg(i, 4, 10, QChar(u'0')), {{"USERFIRST", "Lee"}},
                   i < 3 ? QString("10.0.0.%1").arg(i) : QString(),
                   {{"COMPUTER", i == 1 ? "pat-pc" : "pat-mac"}});
    }
    SearchWindow& search() { return program->TForm2(); }
    Ui::SearchWindow& ui() { return search().ui(); }
    SearchWindow& open() {
        menu({"Systems", "Find"});
        QApplication::setActiveWindow(&search());
        return search();
    }
    void choose(int item) { user::click(ui().SearchGroup->findChildren<QRadioButton*>()[item]); }
    // Types a value; the first Enter closes the list of completions.
    void type(const QString& value) {
        user::fill(ui().SearchList, value);
        if (QApplication::activePopupWidget())
            user::enter();
    }
};

} // namespace

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }

    // Found among hundreds: a handful of rows read, only the grids System Info shows load, once.
    // Addresses and System IDs are listed in the order of their numbers; typing narrows the
    // completions to the values holding it anywhere, and the one picked is the one found.
    void findCancelAndNotFound() {
        Fixture f;
        f.system("QN0400", {}, "10.0.0.10");
        f.system("QN0401", {}, "10.0.0.9");
        f.system("QN9");
        f.system("QN10");
        SearchWindow& w = f.open();
        QVERIFY(!f.program->TForm6().isVisible() && !w.ui().SearchList->isVisible());
        f.choose(5);
        QCOMPARE(w.ui().SearchList->count(), 403);
        QCOMPARE(test::entries(w.ui().SearchList).mid(8, 4),
                 (QStringList{"QN0009", "QN9", "QN0010", "QN10"}));
        f.type("QN0300");
        const quint64 rows = Table::counters().rowsRead;
        const quint64 reloads = TableModel::reloads();
        user::enter();
        QCOMPARE(f.program->TForm10().systemId(), QString("QN0300"));
        QVERIFY2(Table::counters().rowsRead - rows <= 20,
                 qPrintable(QString::number(Table::counters().rowsRead - rows)));
        QCOMPARE(TableModel::reloads() - reloads, quint64(2));
        QVERIFY(!w.isVisible() && !f.dm().DummyTable->isActive() &&
                w.ui().SearchList->count() == 0);
        QCOMPARE(w.criterion(), SearchWindow::SysID);
        user::clickButton(&f.program->TForm10(), "Cancel");
        f.open();
        f.choose(0);
        QCOMPARE(test::entries(w.ui().SearchList).mid(w.ui().SearchList->count() - 4),
                 (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.9", "10.0.0.10"}));
        user::fill(w.ui().SearchList, "0.1");
        QCOMPARE(test::entries(w.ui().SearchList->completer()->popup()),
                 (QStringList{"10.0.0.1", "10.0.0.10"}));
        user::key(Qt::Key_Down);
        user::key(Qt::Key_Down);
        user::enter(); // takes the second
        QCOMPARE(w.ui().SearchList->currentText(), QString("10.0.0.10"));
        user::enter();
        QCOMPARE(f.program->TForm10().systemId(), QString("QN0400"));

        // Cancel closes every table; shown again, Find asks for a criterion, and a value not found
        // leaves the criterion and the value to be corrected.
        user::clickButton(&f.program->TForm10(), "Cancel");
        f.open();
        f.choose(2);
        user::escape();
        QVERIFY(!w.isVisible() && f.program->TForm6().isVisible());
        QCOMPARE(w.criterion(), SearchWindow::None);
        for (Table* t :
             {f.dm().DummyTable, f.dm().IPTable, f.dm().SysTable, f.dm().HWTable, f.dm().SWTable})
            QVERIFY(!t->isActive());
        f.open();
        QVERIFY(!w.ui().SearchList->isVisible());
        user::click(w.ui().FindButton);
        QCOMPARE(test::said(), QString("You MUST select a search criteria!"));
        // Completion offers "pat-mac" and "pat-pc"; Find looks up only what was typed.
        f.choose(3);
        f.type("pat-p");
        user::enter();
        QCOMPARE(test::said(), QString("System Not Found!"));
        QCOMPARE(w.criterion(), SearchWindow::ComputerName);
        QCOMPARE(w.ui().SearchList->currentText(), QString("pat-p"));
        QVERIFY(w.ui().SearchList->lineEdit()->hasFocus());
        user::key(Qt::Key_End);
        user::type("c");
        user::click(w.ui().FindButton);
        QCOMPARE(f.program->TForm10().systemId(), QString("QN0001"));
    }
};

QN_GUI_TEST_MAIN(TestSearch)
#include "test_search.moc"
