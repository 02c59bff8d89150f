// Finding a system by each of the six criteria and handing it to System Info.
#include "datamodule.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "program.h"
#include "searchwindow.h"
#include "systeminfowindow.h"
#include "table.h"
#include "tablemodel.h"
#include "ui_mainwindow.h"
#include "ui_searchwindow.h"
#include "ui_systeminfowindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace qn;
using test::Workspace;
namespace user = test::user;

namespace {

struct Fixture {
    Fixture() {
        ws.writeSettings(test::settingsFile(ws.path("db"), ""));
        program = std::make_unique<Program>(ws.engine());
        program->start();
        MessageService::takeShown();
        system("QN0001", "Pat", "O'Brien", "101");
        system("QN0002", "Pat", "O'Brien", "102");
        system("QN0003", "Kim", "Ode", "");
        system("QN0004", "", "", "404");
        system("QN0005", "", "", "405");
        address("QN0001", "pat-pc", {"11", "1", "1", "1"}, {"www", "mail", "", ""});
        address("QN0002", "pat-mac", {"1", "11", "1", "1"}, {"", "www", "ftp", ""});
        address("QN0003", "kim", {"10", "1", "", ""}, {"", "", "kimbox", ""});
        address("QN0004", "blank", {"192", "168", "100", "200"}, {"", "", "", ""});
    }
    void system(const QString& id, const QString& first, const QString& last, const QString& room) {
        test::addRow(ws.engine(), "Systems.dbf",
                     {{"SysID", id}, {"UserFirst", first}, {"UserLast", last}, {"Room", room}});
    }
    void address(const QString& id, const QString& name, const QStringList& o,
                 const QStringList& aliases) {
        QList<QPair<QString, QString>> v = {
            {"SysID", id}, {"Computer", name}, {"IPString", o.join("")}};
        for (int i = 0; i < 4; ++i) {
            v.append({QString("IP%1").arg(i + 1), o[i]});
            v.append({QString("Alias%1").arg(i + 1), aliases[i]});
        }
        test::addRow(ws.engine(), "IP.dbf", v);
    }
    SearchWindow& open() {
        user::menu(program->TForm6().ui().MainMenu1, {"Systems", "Find"});
        QApplication::setActiveWindow(&search());
        return program->TForm2();
    }
    void choose(int item) {
        user::click(search().ui().SearchGroup->findChildren<QRadioButton*>()[item]);
    }
    QStringList list() {
        QStringList l;
        for (int i = 0; i < search().ui().SearchList->count(); ++i)
            l << search().ui().SearchList->itemText(i);
        return l;
    }
    // Chooses a criterion, types a value and presses Find; the System ID shown, or "" when
    // System Info did not open.
    QString find(int item, const QString& value) {
        if (!search().isVisible())
            open();
        choose(item);
        user::click(search().ui().SearchList);
        user::key(Qt::Key_A, Qt::ControlModifier);
        user::type(value);
        if (QApplication::activePopupWidget())
            user::enter(); // the first Enter closes the list of completions
        user::enter();
        return program->TForm10().isVisible() ? program->TForm10().systemId() : QString();
    }
    void back() {
        QApplication::setActiveWindow(&program->TForm10());
        user::click(program->TForm10().ui().CancelButton);
    }
    SearchWindow& search() { return program->TForm2(); }
    DataModule& dm() { return program->TDataModule11(); }
    Workspace ws;
    std::unique_ptr<Program> program;
};

} // namespace

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void windowAndLists();
    void eachCriterionFoundWithTheHandOverState();
    void notFoundAndRecovery();
    void addressKeys();
    void userNames();
    void aliases();
    void cancelClosesEverything();
    void findReadsWhatItShows();
};

void TestSearch::windowAndLists() {
    Fixture f;
    SearchWindow& w = f.open();
    QCOMPARE(w.objectName(), QString("TForm2"));
    QVERIFY(w.isVisible());
    QVERIFY(!f.program->TForm6().isVisible());
    QVERIFY(!w.ui().SearchList->isVisible());
    QVERIFY(!w.ui().Label1->isVisible());
    f.choose(0);
    QCOMPARE(w.ui().Label1->text(), QString("Enter IP Address to search for..."));
    QVERIFY(w.ui().SearchList->isVisible());
    QCOMPARE(f.list(), (QStringList{"1.11.1.1", "10.1..", "11.1.1.1", "192.168.100.200"}));
    f.choose(1);
    QCOMPARE(f.list(), (QStringList{"ftp", "kimbox", "mail", "www", "www"}));
    f.choose(2);
    QCOMPARE(f.list(), (QStringList{"101", "102", "404", "405"}));
    f.choose(3);
    QCOMPARE(f.list(), (QStringList{"blank", "kim", "pat-mac", "pat-pc"}));
    f.choose(4); // each name once; the two empty names give one " "
    QCOMPARE(f.list(), (QStringList{" ", "Kim Ode", "Pat O'Brien"}));
    f.choose(5);
    QCOMPARE(f.list().size(), 5);
    QCOMPARE(w.criterion(), SearchWindow::SysID);
    QVERIFY(!f.dm().DummyTable->isActive());
}

void TestSearch::eachCriterionFoundWithTheHandOverState() {
    Fixture f;
    struct Case {
        int item;
        QString value, id;
    } cases[] = {
        {0, "192.168.100.200", "QN0004"}, {1, "kimbox", "QN0003"},  {2, "102", "QN0002"},
        {3, "pat-mac", "QN0002"},         {4, "Kim Ode", "QN0003"}, {5, "QN0005", "QN0005"}};
    for (const Case& c : cases) {
        QCOMPARE(f.find(c.item, c.value), c.id);
        DataModule& dm = f.dm();
        QVERIFY(!f.search().isVisible());
        QVERIFY(!dm.DummyTable->isActive());
        QCOMPARE(dm.SysTable->indexName(), QString("SysID"));
        QVERIFY(dm.SysTable->filtered());
        QCOMPARE(dm.SysTable->recordCount(), 1);
        for (Table* t : {dm.IPTable, dm.HWTable, dm.SWTable}) {
            QVERIFY(t->isActive());
            QCOMPARE(t->indexName(), QString("SysID"));
            QVERIFY(!t->filtered());
        }
        if (c.id != "QN0005")
            QCOMPARE(dm.IPTable->fieldText("SysID"), c.id);
        QCOMPARE(f.search().criterion(), SearchWindow::Criterion(c.item));
        QVERIFY(f.search().ui().SearchList->count() == 0);
        f.back();
    }
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
    QVERIFY(w.ui().SearchList->isVisible());
    QCOMPARE(w.ui().SearchList->currentText(), QString("pat-p"));
    QVERIFY(w.ui().SearchList->lineEdit()->hasFocus());
    QVERIFY(!f.dm().DummyTable->isActive());
    user::key(Qt::Key_End);
    user::type("c");
    user::click(w.ui().FindButton);
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0001"));
    f.back();
    // An empty office number finds the first system without a room.
    QCOMPARE(f.find(2, ""), QString("QN0003"));
    f.back();
    QCOMPARE(f.find(5, QString(40, 'x')), QString()); // longer than any System ID
    QCOMPARE(f.find(0, "9.9.9.9"), QString());
    QCOMPARE(MessageService::takeShown().size(), 2);
}

void TestSearch::addressKeys() {
    QCOMPARE(search::addressKey("192.168.1.5"), QString("19216815"));
    QCOMPARE(search::addressKey("10.1"), QString("101"));
    QCOMPARE(search::addressKey("1.2.3.4.5"), QString("1234.5"));
    Fixture f;
    // 1.11.1.1 and 11.1.1.1 share the key 11111: the octets tell which opens.
    QCOMPARE(f.find(0, "1.11.1.1"), QString("QN0002"));
    f.back();
    QCOMPARE(f.find(0, "11.1.1.1"), QString("QN0001"));
    f.back();
    QCOMPARE(f.find(0, "10.1"), QString("QN0003"));
}

void TestSearch::userNames() {
    QCOMPARE(search::nameHalves("John Smith"), (QPair<QString, QString>{"John", "Smith"}));
    QCOMPARE(search::nameHalves("Smith"), (QPair<QString, QString>{"", "Smith"}));
    QCOMPARE(search::nameHalves("Mary Ann Lee"), (QPair<QString, QString>{"Mary", "Ann Lee"}));
    Fixture f;
    // Both of Pat O'Brien's systems, reachable with the navigator.
    QCOMPARE(f.find(4, "Pat O'Brien"), QString("QN0001"));
    SystemInfoWindow& info = f.program->TForm10();
    QCOMPARE(f.dm().SysTable->recordCount(), 2);
    QCOMPARE(f.dm().SysTable->filter(), DataModule::userNameFilter("Pat", "O'Brien"));
    user::click(info.ui().DBNavigator1->nextButton());
    QCOMPARE(info.systemId(), QString("QN0002"));
    QCOMPARE(info.ui().ComputerName->text(), QString("pat-mac"));
    f.back();
    // Without a space: an empty first name and the whole value as last name.
    f.system("QN0006", "", "Solo", "");
    QCOMPARE(f.find(4, "Solo"), QString("QN0006"));
    f.back();
    QCOMPARE(f.find(4, " "), QString("QN0004")); // the empty names
    QCOMPARE(f.dm().SysTable->recordCount(), 2);
}

void TestSearch::aliases() {
    Fixture f;
    QCOMPARE(f.find(1, "ftp"), QString("QN0002")); // held in Alias3
    f.back();
    QCOMPARE(f.find(1, "www"), QString("QN0001")); // Alias1 of one beats Alias2 of another
    f.back();
    QCOMPARE(f.find(1, "nothere"), QString());
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Cannot that Alias!"));
    QCOMPARE(f.search().criterion(), SearchWindow::Alias);
    QVERIFY(!f.dm().DummyTable->isActive());
}

void TestSearch::cancelClosesEverything() {
    Fixture f;
    SearchWindow& w = f.open();
    f.choose(2);
    user::escape();
    QVERIFY(!w.isVisible());
    QVERIFY(f.program->TForm6().isVisible());
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
        f.system(QString("QN%1").arg(i, 4, 10, QChar(u'0')), "Lee", "Bo", "");
    f.open();
    f.choose(5);
    f.search().ui().SearchList->setEditText("QN0300");
    const quint64 rows = Table::counters().rowsRead;
    const quint64 reloads = TableModel::reloads();
    QTest::mouseClick(f.search().ui().FindButton, Qt::LeftButton);
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0300"));
    QVERIFY2(Table::counters().rowsRead - rows <= 20,
             qPrintable(QString::number(Table::counters().rowsRead - rows)));
    QCOMPARE(TableModel::reloads() - reloads, quint64(2));
}

QN_GUI_TEST_MAIN(TestSearch)
#include "test_search.moc"
