// Finding a system by each of the six criteria and handing it to System Info.
#include "fixtures.h"
#include "mainwindow.h"
#include "searchwindow.h"
#include "tablemodel.h"
#include "ui_mainwindow.h"
#include "ui_searchwindow.h"
#include "ui_systeminfowindow.h"

#include <QRadioButton>
#include <QTest>

using namespace qn;
namespace user = test::user;

namespace {

struct Fixture : test::Inventory {
    Fixture() {
        const test::Row pat{{"USERFIRST", "Pat"}, {"USERLAST", "O'Brien"}};
        system("QN0001", pat + test::Row{{"ROOM", "101"}}, "11.1.1.1",
               {{"COMPUTER", "pat-pc"}, {"ALIAS1", "www"}, {"ALIAS2", "mail"}});
        system("QN0002", pat + test::Row{{"ROOM", "102"}}, "1.11.1.1",
               {{"COMPUTER", "pat-mac"}, {"ALIAS2", "www"}, {"ALIAS3", "ftp"}});
        system("QN0003", {{"USERFIRST", "Kim"}, {"USERLAST", "Ode"}}, "10.1..",
               {{"COMPUTER", "kim"}, {"ALIAS3", "kimbox"}});
        system("QN0004", {{"ROOM", "404"}}, "192.168.100.200", {{"COMPUTER", "blank"}});
        system("QN0005", {{"ROOM", "405"}});
    }
    SearchWindow& search() { return program->TForm2(); }
    SearchWindow& open() {
        user::menu(program->TForm6().ui().MainMenu1, {"Systems", "Find"});
        QApplication::setActiveWindow(&search());
        return search();
    }
    void choose(int item) {
        user::click(search().ui().SearchGroup->findChildren<QRadioButton*>()[item]);
    }
    // Chooses a criterion, types a value and presses Find; the System ID shown, or "" when
    // System Info did not open.
    QString find(int item, const QString& value) {
        if (!search().isVisible())
            open();
        choose(item);
        user::fill(search().ui().SearchList, value);
        if (QApplication::activePopupWidget())
            user::enter(); // the first Enter closes the list of completions
        user::enter();
        return program->TForm10().isVisible() ? program->TForm10().systemId() : QString();
    }
    void back() { user::click(program->TForm10().ui().CancelButton); }
};

} // namespace

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void windowAndLists();
    void find_data();
    void find();
    void notFoundAndRecovery();
    void cancelClosesEverything();
    void findReadsWhatItShows();
};

void TestSearch::windowAndLists() {
    Fixture f;
    SearchWindow& w = f.open();
    QVERIFY(!f.program->TForm6().isVisible());
    QVERIFY(!w.ui().SearchList->isVisible() && !w.ui().Label1->isVisible());
    f.choose(0);
    QCOMPARE(w.ui().Label1->text(), QString("Enter IP Address to search for..."));
    const QList<QStringList> lists{{"1.11.1.1", "10.1..", "11.1.1.1", "192.168.100.200"},
                                   {"ftp", "kimbox", "mail", "www", "www"},
                                   {"101", "102", "404", "405"},
                                   {"blank", "kim", "pat-mac", "pat-pc"},
                                   {" ", "Kim Ode", "Pat O'Brien"}, // each name once
                                   {"QN0001", "QN0002", "QN0003", "QN0004", "QN0005"}};
    for (int i = 0; i < lists.size(); ++i) {
        f.choose(i);
        QCOMPARE(test::entries(w.ui().SearchList), lists[i]);
    }
    QCOMPARE(w.criterion(), SearchWindow::SysID);
    QVERIFY(!f.dm().DummyTable->isActive());
}

void TestSearch::find_data() {
    QTest::addColumn<int>("criterion");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("id"); // empty: not found
    QTest::addColumn<int>("systems");
    const struct {
        const char *tag, *value, *id;
        int criterion, systems = 0; // systems: how many the user's filter holds
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
                {"user", "Kim Ode", "QN0003", 4, 1},
                {"user with two systems", "Pat O'Brien", "QN0001", 4, 2},
                {"last name only", "Solo", "QN0006", 4},
                {"two-word last name", "Mary Ann Lee", "QN0007", 4},
                {"empty names: both", " ", "QN0004", 4, 2},
                {"system ID", "QN0005", "QN0005", 5},
                {"longer than any system ID", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", "", 5}};
    for (const auto& r : rows)
        QTest::newRow(r.tag) << r.criterion << QString(r.value) << QString(r.id) << r.systems;
}

// Found: System Info shows the system over the tables as it needs them.
void TestSearch::find() {
    QFETCH(int, criterion);
    QFETCH(QString, value);
    QFETCH(QString, id);
    QFETCH(int, systems);
    Fixture f;
    f.system("QN0006", {{"USERLAST", "Solo"}});
    f.system("QN0007", {{"USERFIRST", "Mary"}, {"USERLAST", "Ann Lee"}});
    QCOMPARE(f.find(criterion, value), id);
    DataModule& dm = f.dm();
    QVERIFY(!dm.DummyTable->isActive());
    QCOMPARE(f.search().criterion(), SearchWindow::Criterion(criterion));
    if (id.isEmpty()) {
        const QString expected = criterion == 1 ? "Cannot that Alias!" : "System Not Found!";
        QCOMPARE(MessageService::takeShown().value(0).text, expected);
        return;
    }
    QVERIFY(!f.search().isVisible());
    QCOMPARE(dm.SysTable->indexName(), QString("SysID"));
    QVERIFY(dm.SysTable->filtered());
    QCOMPARE(dm.SysTable->fieldText("SysID"), id);
    for (Table* t : {dm.IPTable, dm.HWTable, dm.SWTable})
        QVERIFY(t->isActive() && t->indexName() == "SysID" && !t->filtered());
    if (systems)
        QCOMPARE(dm.SysTable->recordCount(), systems);
    if (id < "QN0005") // the others have no address
        QCOMPARE(dm.IPTable->fieldText("SysID"), id);
    QCOMPARE(f.search().ui().SearchList->count(), 0);
    QVERIFY(MessageService::takeShown().isEmpty());
}

void TestSearch::notFoundAndRecovery() {
    Fixture f;
    SearchWindow& w = f.open();
    user::click(w.ui().FindButton);
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("You MUST select a search criteria!"));
    // Completion offers "pat-mac" and "pat-pc" in a list; Find looks up only what was typed.
    QCOMPARE(f.find(3, "pat-p"), QString());
    QCOMPARE(MessageService::takeShown().value(0).text, QString("System Not Found!"));
    // The criterion and the value stay, selected, to be corrected.
    QCOMPARE(w.criterion(), SearchWindow::ComputerName);
    QCOMPARE(w.ui().SearchList->currentText(), QString("pat-p"));
    QVERIFY(w.ui().SearchList->lineEdit()->hasFocus());
    user::key(Qt::Key_End);
    user::type("c");
    user::click(w.ui().FindButton);
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0001"));
}

void TestSearch::cancelClosesEverything() {
    Fixture f;
    SearchWindow& w = f.open();
    f.choose(2);
    user::escape();
    QVERIFY(!w.isVisible() && f.program->TForm6().isVisible());
    QCOMPARE(w.criterion(), SearchWindow::None);
    for (Table* t :
         {f.dm().DummyTable, f.dm().IPTable, f.dm().SysTable, f.dm().HWTable, f.dm().SWTable})
        QVERIFY(!t->isActive());
    f.open();
    QVERIFY(!w.ui().SearchList->isVisible());
}

// Finding one system among hundreds reads a handful of rows; only the grids System Info shows
// load, once each.
void TestSearch::findReadsWhatItShows() {
    Fixture f;
    for (int i = 10; i < 400; ++i)
        f.system(QString("QN%1").arg(i, 4, 10, QChar(u'0')), {{"USERFIRST", "Lee"}});
    f.open();
    f.choose(5);
    user::fill(f.search().ui().SearchList, "QN0300");
    if (QApplication::activePopupWidget())
        user::enter();
    const quint64 rows = Table::counters().rowsRead;
    const quint64 reloads = TableModel::reloads();
    user::click(f.search().ui().FindButton);
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0300"));
    QVERIFY2(Table::counters().rowsRead - rows <= 20,
             qPrintable(QString::number(Table::counters().rowsRead - rows)));
    QCOMPARE(TableModel::reloads() - reloads, quint64(2));
}

QN_GUI_TEST_MAIN(TestSearch)
#include "test_search.moc"
