// The resource pool window over real tables: filter lists, adding, deleting, and giving
// resources to systems and back.
#include "appstate.h"
#include "datamodule.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "poolrules.h"
#include "resourceswindow.h"
#include "systeminfowindow.h"
#include "table.h"
#include "tablemodel.h"
#include "ui_resourceswindow.h"
#include "ui_systeminfowindow.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace qn;
using test::Workspace;
using Kind = MessageService::Kind;

namespace {

using Row = QMap<QString, QString>;

struct Fixture {
    Fixture() {
        ws.writeSettings(test::settingsFile(ws.path("db"), ""));
        // The real start-up reads the settings file and fills the database folder.
        start = std::make_unique<MainWindow>(state, ws.engine());
        start->FormCreate();
        dm = std::make_unique<DataModule>(ws.engine());
        main.show();
        window = std::make_unique<ResourcesWindow>(*dm, &main);
        for (const char* id : {"QN0003", "QN0001", "QN0002"})
            append("SYSTEMS.DBF", {{"SYSID", id}});
        MessageService::takeShown();
    }
    ~Fixture() { window->hide(); }
    Ui::ResourcesWindow& ui() { return window->ui(); }

    // Writes a row through a private table object, as another program would.
    void append(const QString& file, const Row& values) {
        Table t(ws.engine());
        t.setDatabaseName("IP");
        t.setTableName(file);
        t.open();
        t.append();
        for (auto it = values.begin(); it != values.end(); ++it)
            t.setFieldText(it.key(), it.value());
        t.post();
    }
    void addResource(const QString& kind, const QString& category, const QString& item,
                     const QString& model = "M") {
        append("Resources.dbf", {{"MAIN", kind},
                                 {"CATEGORY", category},
                                 {"ITEM", item},
                                 {"MDL_LIC", model},
                                 {"SERIAL", "S-" + item.left(20)},
                                 {"PART", "P-" + item.left(20)},
                                 {"MANUF", "Maker " + item.left(20)}});
    }
    // Every row of a file, read through a private table object.
    QList<Row> rows(const QString& file) {
        Table t(ws.engine());
        t.setDatabaseName("IP");
        t.setTableName(file);
        t.open();
        QList<Row> out;
        for (t.first(); !t.eof(); t.next()) {
            Row r;
            for (const QString& f : t.fieldNames())
                r[f] = t.fieldText(f);
            out << r;
        }
        return out;
    }
    QStringList column(const QString& field) {
        QStringList out;
        const QAbstractItemModel* m = ui().DBGrid1->model();
        const int c = ui().DBGrid1->tableModel()->columns().indexOf(field);
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, c).data().toString();
        return out;
    }
    void show() {
        window->show();
        QApplication::setActiveWindow(window.get());
    }
    // Shows the window and lists one kind and category in the grid.
    void list(const QString& main, const QString& category);
    void giveTo(const QString& sysId);

    Workspace ws;
    AppState state;
    std::unique_ptr<MainWindow> start;
    std::unique_ptr<DataModule> dm;
    QWidget main;
    std::unique_ptr<ResourcesWindow> window;
};

QStringList entries(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

// Picks an entry in the opened list with the mouse, as a user would; a disabled list does not
// open.
bool choose(QComboBox* list, const QString& text) {
    const int target = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (target < 0 || !list->isEnabled())
        return false;
    list->showPopup();
    QAbstractItemView* view = list->view();
    if (!QTest::qWaitForWindowExposed(view->window()))
        return false;
    const QRect item = view->visualRect(list->model()->index(target, 0));
    QTest::mouseMove(view->viewport(), item.center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    return !view->window()->isVisible() && list->currentIndex() == target;
}

void click(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton);
}

void Fixture::list(const QString& mainKind, const QString& category) {
    if (!window->isVisible())
        show();
    QVERIFY(choose(ui().MainCombo, mainKind));
    QVERIFY(choose(ui().CategoryCombo, category));
}

void Fixture::giveTo(const QString& sysId) {
    if (!ui().ExistingSystemRadio->isChecked())
        click(ui().ExistingSystemRadio);
    ui().ExistingCombo->setCurrentIndex(ui().ExistingCombo->findText(sysId));
    click(ui().AddResourceButton);
}

QString lastText() {
    return MessageService::takeShown().value(0).text;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void fixedListsAreInListOrder();
    void filterListsAndGrid();
    void quotesInValues();
    void addResource();
    void addRefusesWhatDoesNotFit();
    void deleteResource();
    void giveToSystem();
    void itemKindFollowsTheRow();
    void systemChoice();
    void roundTripThroughSystemInfo();
    void leavesAnOpenSystemAlone();
    void poolClosedByAnotherWindow();
    void closeReturnsToClosedState();
};

void TestResources::fixedListsAreInListOrder() {
    QCOMPARE(pool::mainKinds(), (QStringList{"HARDWARE", "SOFTWARE"}));
    const QStringList subs = pool::subCategories();
    QCOMPARE(subs.size(), 18);
    QVERIFY(std::is_sorted(subs.begin(), subs.end(), pool::listsBefore));
    QVERIFY(pool::listsBefore("CDROM", "CD-RW"));
    QVERIFY(pool::listsBefore("cpu", "MODEM"));
    QVERIFY(!pool::listsBefore("CPU", "CPU"));
    QVERIFY(pool::listsBefore("CPU", "cpu") != pool::listsBefore("cpu", "CPU"));

    Fixture f;
    QCOMPARE(entries(f.ui().MainRCombo), pool::mainKinds());
    QCOMPARE(entries(f.ui().CategoryRCombo), subs);
    QVERIFY(!f.ui().MainRCombo->isEditable());
    QVERIFY(!f.ui().CategoryRCombo->isEditable());
    QCOMPARE(f.ui().MainRCombo->currentIndex(), -1);
    QCOMPARE(f.ui().CategoryRCombo->currentIndex(), -1);
}

void TestResources::filterListsAndGrid() {
    Fixture f;
    f.addResource("HARDWARE", "CPU", "Chip");
    f.addResource("SOFTWARE", "CPU", "Microcode");
    f.addResource("HARDWARE", "MODEM", "Dialer");
    f.addResource("HARDWARE", "MODEM", "Fax");
    f.addResource("", "", "Unsorted"); // empty values are not listed
    auto& ui = f.ui();
    QCOMPARE(f.window->objectName(), QString("TForm4"));
    QCOMPARE(f.window->windowTitle(), QString("Resources..."));
    f.show();
    QCOMPARE(entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
    QCOMPARE(entries(ui.CategoryCombo), (QStringList{"CPU", "MODEM"}));
    QCOMPARE(ui.MainCombo->currentIndex(), -1);
    QCOMPARE(ui.CategoryCombo->currentIndex(), -1);
    QVERIFY(!ui.CategoryCombo->isEnabled());
    QVERIFY(ui.DBGrid1->isHidden());
    QVERIFY(ui.ResourceGroup->isHidden());
    Table& pool = *f.dm->ResourceTable;
    QVERIFY(pool.isActive());
    QCOMPARE(pool.indexName(), QString("MAIN"));
    QVERIFY(!pool.filtered());

    QVERIFY(!choose(ui.CategoryCombo, "MODEM")); // disabled until a main kind is chosen
    QVERIFY(choose(ui.MainCombo, "HARDWARE"));
    QVERIFY(ui.CategoryCombo->isEnabled());
    QVERIFY(ui.DBGrid1->isHidden());
    QVERIFY(choose(ui.CategoryCombo, "MODEM"));
    QVERIFY(!ui.DBGrid1->isHidden());
    QCOMPARE(pool.filter(), DataModule::kindCategoryFilter("HARDWARE", "MODEM"));
    QVERIFY(pool.filtered());
    QCOMPARE(pool.indexName(), QString("MAIN"));
    QAbstractItemModelTester tester(ui.DBGrid1->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(ui.DBGrid1->tableModel()->columns(),
             (QStringList{"MANUF", "ITEM", "MDL_LIC", "SERIAL", "PART"}));
    QStringList titles;
    for (int c = 0; c < 5; ++c)
        titles << ui.DBGrid1->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles,
             (QStringList{"Manufacturer", "Item", "Model #/License Key", "Serial #", "Part #"}));
    QStringList items = f.column("ITEM");
    items.sort();
    QCOMPARE(items, (QStringList{"Dialer", "Fax"}));

    // A new main choice alone does not refilter; the next sub category does.
    QVERIFY(choose(ui.MainCombo, "SOFTWARE"));
    QCOMPARE(f.column("ITEM").size(), 2);
    QVERIFY(choose(ui.CategoryCombo, "CPU"));
    QCOMPARE(f.column("ITEM"), (QStringList{"Microcode"}));
    QVERIFY(MessageService::takeShown().isEmpty());
}

void TestResources::quotesInValues() {
    Fixture f;
    // Items given back from systems may carry any category text.
    f.addResource("HARDWARE", "O'BRIEN'S", "Pat O'Brien's \"big\" disk");
    f.addResource("HARDWARE", "O'BRIEN\"S", "Second");
    f.addResource("HARDWARE", "A'B\"C]", "Unfilterable");
    auto& ui = f.ui();
    f.list("HARDWARE", "O'BRIEN'S");
    QCOMPARE(f.column("ITEM"), (QStringList{"Pat O'Brien's \"big\" disk"}));
    QVERIFY(choose(ui.CategoryCombo, "O'BRIEN\"S"));
    QCOMPARE(f.column("ITEM"), (QStringList{"Second"}));
    f.giveTo("QN0001");
    QCOMPARE(f.rows("HARDWARE.DBF").value(0).value("CATEGORY"), QString("O'BRIEN\"S"));
    QCOMPARE(f.rows("Resources.dbf").size(), 2);

    // A value no quoting can hold is refused with the error box; the grid stays as it was.
    QVERIFY(choose(ui.CategoryCombo, "A'B\"C]"));
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Error);
    QVERIFY(shown[0].text.contains("A'B\"C]"));
    QCOMPARE(f.dm->ResourceTable->filter(),
             DataModule::kindCategoryFilter("HARDWARE", "O'BRIEN\"S"));
}

void TestResources::addResource() {
    Fixture f;
    f.addResource("SOFTWARE", "O/S", "Kernel");
    f.addResource("HARDWARE", "MOUSE", "Rodent");
    auto& ui = f.ui();
    f.list("SOFTWARE", "O/S");
    click(ui.AddButton);
    QVERIFY(ui.DBGrid1->isHidden());
    QVERIFY(!ui.ResourceGroup->isHidden());
    QVERIFY(choose(ui.MainRCombo, "SOFTWARE"));
    QVERIFY(choose(ui.CategoryRCombo, "OFFICE SUITE"));
    QTest::keyClicks(ui.ItemEdit, "O'Brien's \"Office\"");
    QTest::keyClicks(ui.SerialEdit, "SN-1");
    QTest::keyClicks(ui.PartEdit, "PN-2");
    QTest::keyClicks(ui.ModelEdit, "LIC-3");
    QTest::keyClicks(ui.ManufacturerEdit, "Acme  ");
    click(ui.AddRButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    const QList<Row> rows = f.rows("Resources.dbf");
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[2], (Row{{"MAIN", "SOFTWARE"},
                           {"CATEGORY", "OFFICE SUITE"},
                           {"ITEM", "O'Brien's \"Office\""},
                           {"SERIAL", "SN-1"},
                           {"PART", "PN-2"},
                           {"MDL_LIC", "LIC-3"},
                           {"MANUF", "Acme"}}));
    // The new sub category joins its list in order although SOFTWARE was listed already.
    QCOMPARE(entries(ui.CategoryCombo), (QStringList{"MOUSE", "O/S", "OFFICE SUITE"}));
    QCOMPARE(entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
    QCOMPARE(ui.CategoryCombo->currentText(), QString("O/S"));
    // The group is emptied and gives way to the grid.
    QVERIFY(ui.ResourceGroup->isHidden());
    QVERIFY(!ui.DBGrid1->isHidden());
    QCOMPARE(ui.MainRCombo->currentIndex(), -1);
    QCOMPARE(ui.CategoryRCombo->currentIndex(), -1);
    for (QLineEdit* box :
         {ui.ItemEdit, ui.SerialEdit, ui.PartEdit, ui.ModelEdit, ui.ManufacturerEdit})
        QVERIFY(box->text().isEmpty());
    QVERIFY(choose(ui.CategoryCombo, "OFFICE SUITE"));
    QCOMPARE(f.column("ITEM"), (QStringList{"O'Brien's \"Office\""}));

    // Cancel drops what was typed.
    click(ui.AddButton);
    QVERIFY(choose(ui.MainRCombo, "HARDWARE"));
    QTest::keyClicks(ui.ItemEdit, "Discarded");
    click(ui.CancelRButton);
    QVERIFY(ui.ResourceGroup->isHidden());
    QVERIFY(ui.ItemEdit->text().isEmpty());
    QCOMPARE(ui.MainRCombo->currentIndex(), -1);
    QCOMPARE(f.rows("Resources.dbf").size(), 3);

    // Nothing is required: an empty resource is stored, and no empty entry is listed.
    click(ui.AddButton);
    click(ui.AddRButton);
    QCOMPARE(f.rows("Resources.dbf").size(), 4);
    QCOMPARE(f.rows("Resources.dbf")[3].value("MAIN"), QString());
    QCOMPARE(entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
    QCOMPARE(ui.CategoryCombo->count(), 3);
}

void TestResources::addRefusesWhatDoesNotFit() {
    Fixture f;
    auto& ui = f.ui();
    f.show();
    click(ui.AddButton);
    QVERIFY(choose(ui.MainRCombo, "HARDWARE"));
    const QString longItem(41, u'x');
    ui.ItemEdit->setText(longItem); // pasted: the box does not cut it
    click(ui.AddRButton);
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Error);
    QVERIFY2(shown[0].text.startsWith("Item holds at most 40 characters"),
             qPrintable(shown[0].text));
    QCOMPARE(f.rows("Resources.dbf").size(), 0);
    QCOMPARE(ui.ItemEdit->text(), longItem);
    QVERIFY(!ui.ResourceGroup->isHidden());
    QVERIFY(entries(ui.MainCombo).isEmpty());

    // A character the table's code page lacks: the store's refusal, and the row is dropped.
    ui.ItemEdit->setText(QString::fromUtf8("Ω meter"));
    click(ui.AddRButton);
    shown = MessageService::takeShown();
    QCOMPARE(shown.value(0).kind, Kind::Error);
    QVERIFY(shown.value(0).text.contains(QString::fromUtf8("Ω")));
    QCOMPARE(f.dm->ResourceTable->state(), Table::State::Browse);
    QCOMPARE(f.rows("Resources.dbf").size(), 0);

    // Exactly the width fits.
    ui.ItemEdit->setText(QString(40, u'y'));
    click(ui.AddRButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("Resources.dbf").value(0).value("ITEM"), QString(40, u'y'));
    QCOMPARE(entries(ui.MainCombo), (QStringList{"HARDWARE"}));
}

void TestResources::deleteResource() {
    Fixture f;
    f.addResource("HARDWARE", "CPU", "One");
    f.addResource("HARDWARE", "CPU", "Two");
    f.addResource("HARDWARE", "MODEM", "Other");
    auto& ui = f.ui();
    f.show();
    // No grid shown yet: nothing the user can see is deleted.
    click(ui.Button1);
    QCOMPARE(lastText(), QString("The list of resources is not shown: choose a main category and "
                                 "a sub category first. Nothing was deleted."));
    QCOMPARE(f.rows("Resources.dbf").size(), 3);

    f.list("HARDWARE", "CPU");
    const int two = f.column("ITEM").indexOf("Two");
    ui.DBGrid1->selectRow(two);
    click(ui.Button1);
    QVERIFY(MessageService::takeShown().isEmpty()); // no question
    QCOMPARE(f.column("ITEM"), (QStringList{"One"}));
    QCOMPARE(f.rows("Resources.dbf").size(), 2);

    // The add group covers the grid.
    click(ui.AddButton);
    click(ui.Button1);
    QVERIFY(lastText().contains("Nothing was deleted"));
    click(ui.CancelRButton);

    click(ui.Button1);
    QVERIFY(MessageService::takeShown().isEmpty());
    click(ui.Button1);
    QCOMPARE(lastText(), QString("There is no resource in the list to delete."));
    QCOMPARE(f.rows("Resources.dbf").value(0).value("ITEM"), QString("Other"));
    QCOMPARE(f.rows("Resources.dbf").size(), 1);
}

void TestResources::giveToSystem() {
    Fixture f;
    f.append("Resources.dbf", {{"MAIN", "HARDWARE"},
                               {"CATEGORY", "CPU"},
                               {"ITEM", "Fast chip"},
                               {"MDL_LIC", "X1"},
                               {"SERIAL", "S1"},
                               {"PART", "P1"},
                               {"MANUF", "Acme"}});
    f.append("Resources.dbf", {{"MAIN", "SOFTWARE"},
                               {"CATEGORY", "O/S"},
                               {"ITEM", "Kernel"},
                               {"MDL_LIC", "KEY-9"},
                               {"SERIAL", "S2"},
                               {"PART", "P2"},
                               {"MANUF", "Bell"}});
    f.list("HARDWARE", "CPU");
    f.giveTo("QN0002");
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("HARDWARE.DBF"), (QList<Row>{{{"SYSID", "QN0002"},
                                                  {"DESC", "Fast chip"},
                                                  {"MANUF", "Acme"},
                                                  {"MODEL", "X1"},
                                                  {"SERIALNUM", "S1"},
                                                  {"PART", "P1"},
                                                  {"CATEGORY", "CPU"}}}));
    QVERIFY(f.rows("SOFTWARE.DBF").isEmpty());
    QCOMPARE(f.rows("Resources.dbf").size(), 1);
    QCOMPARE(f.column("ITEM"), QStringList());
    // The item and systems tables are closed again, the pool stays open.
    for (Table* t : {f.dm->HWTable, f.dm->SysTable}) {
        QVERIFY(!t->isActive());
        QVERIFY(t->indexName().isEmpty());
        QVERIFY(t->filter().isEmpty());
    }
    QVERIFY(f.dm->ResourceTable->isActive());

    QVERIFY(choose(f.ui().MainCombo, "SOFTWARE"));
    QVERIFY(choose(f.ui().CategoryCombo, "O/S"));
    f.giveTo("QN0003");
    QCOMPARE(f.rows("SOFTWARE.DBF"), (QList<Row>{{{"SYSID", "QN0003"},
                                                  {"DESC", "Kernel"},
                                                  {"MANUF", "Bell"},
                                                  {"LICENSEKEY", "KEY-9"},
                                                  {"SERIALNUM", "S2"},
                                                  {"PART", "P2"},
                                                  {"CATEGORY", "O/S"}}}));
    QCOMPARE(f.rows("HARDWARE.DBF").size(), 1);
    QVERIFY(f.rows("Resources.dbf").isEmpty());

    // An empty grid: nothing to give.
    click(f.ui().AddResourceButton);
    QCOMPARE(lastText(), QString("There is no resource in the list to add to the system."));
}

void TestResources::itemKindFollowsTheRow() {
    Fixture f;
    f.addResource("SOFTWARE", "CPU", "Licence", "KEY-1");
    f.addResource("FIRMWARE", "CPU", "Blob", "FW-1");
    f.addResource("HARDWARE", "MOUSE", "Rodent");
    auto& ui = f.ui();
    f.list("SOFTWARE", "CPU");
    // The main list now says HARDWARE while the grid still shows the software row.
    QVERIFY(choose(ui.MainCombo, "HARDWARE"));
    QCOMPARE(f.column("ITEM"), (QStringList{"Licence"}));
    f.giveTo("QN0001");
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    QCOMPARE(f.rows("SOFTWARE.DBF").value(0).value("LICENSEKEY"), QString("KEY-1"));

    // A kind that is neither stays in the pool, and nothing is written.
    QVERIFY(choose(ui.MainCombo, "FIRMWARE"));
    QVERIFY(choose(ui.CategoryCombo, "CPU"));
    QCOMPARE(f.column("ITEM"), (QStringList{"Blob"}));
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), QString("This resource's main category is \"FIRMWARE\", neither HARDWARE "
                                 "nor SOFTWARE, so it cannot be added to a system. It stays in "
                                 "the pool."));
    QCOMPARE(f.rows("Resources.dbf").size(), 2);
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    QCOMPARE(f.rows("SOFTWARE.DBF").size(), 1);
    QCOMPARE(f.column("ITEM"), (QStringList{"Blob"}));
}

void TestResources::systemChoice() {
    Fixture f;
    f.addResource("HARDWARE", "CPU", "Chip");
    auto& ui = f.ui();
    const QString noSystem("You must select a system to add the resource to!");
    f.list("HARDWARE", "CPU");
    QVERIFY(!ui.ExistingSystemRadio->isChecked());
    QCOMPARE(ui.ExistingCombo->count(), 0);
    QCOMPARE(ui.AddRadioGroup->title(), QString("Add Resource to System"));
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), noSystem);

    click(ui.ExistingSystemRadio);
    QCOMPARE(entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
    QVERIFY(ui.ExistingCombo->currentText().isEmpty());
    QVERIFY(!f.dm->SysTable->isActive());

    // Chosen, but no System ID picked from the list: refused, the resource stays.
    click(ui.AddResourceButton);
    const QString pick("Choose a System ID from the list to add the resource to!");
    QCOMPARE(lastText(), pick);
    ui.ExistingCombo->setFocus();
    QTest::keyClicks(ui.ExistingCombo, "QN0009");
    QTest::keyClick(ui.ExistingCombo, Qt::Key_Return);
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), pick);
    QCOMPARE(ui.ExistingCombo->count(), 3);
    QCOMPARE(f.rows("Resources.dbf").size(), 1);
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());

    ui.ExistingCombo->setCurrentIndex(1);
    click(ui.ClearResourceButton);
    QVERIFY(ui.ExistingCombo->currentText().isEmpty());
    QVERIFY(!ui.ExistingSystemRadio->isChecked());
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), noSystem);
    QCOMPARE(f.rows("Resources.dbf").size(), 1);

    // Chosen again: each System ID once.
    click(ui.ExistingSystemRadio);
    QCOMPARE(entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
    // Picked in the list after a Clear Boxes.
    ui.ExistingCombo->setCurrentIndex(0);
    click(ui.AddResourceButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("HARDWARE.DBF").value(0).value("SYSID"), QString("QN0001"));
}

void TestResources::roundTripThroughSystemInfo() {
    Fixture f;
    const Row hardware{{"SYSID", "QN0002"},      {"DESC", "Disk"},    {"MANUF", "Acme"},
                       {"MODEL", "D-1"},         {"SERIALNUM", "S9"}, {"PART", "P9"},
                       {"CATEGORY", "HARDDRIVE"}};
    const Row software{{"SYSID", "QN0002"},      {"DESC", "Editor"},  {"MANUF", "Bell"},
                       {"LICENSEKEY", "K-7"},    {"SERIALNUM", "S8"}, {"PART", "P8"},
                       {"CATEGORY", "O'BRIEN'S"}};
    f.append("HARDWARE.DBF", hardware);
    f.append("SOFTWARE.DBF", software);
    QWidget infoMain;
    SystemInfoWindow info(*f.dm, &infoMain);
    f.dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("QN0002"), true, true);
    f.dm->IPTableOpenClose("SysID", "", false, true);
    f.dm->HWTableOpenClose("SysID", "", false, true);
    f.dm->SWTableOpenClose("SysID", "", false, true);
    info.show();
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.ui().HDeleteButton);
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.ui().SDeleteButton);
    click(info.ui().CancelButton);
    MessageService::takeShown();
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    QCOMPARE(f.rows("Resources.dbf").size(), 2);

    f.list("HARDWARE", "HARDDRIVE");
    f.giveTo("QN0002");
    QVERIFY(choose(f.ui().MainCombo, "SOFTWARE"));
    QVERIFY(choose(f.ui().CategoryCombo, "O'BRIEN'S"));
    click(f.ui().AddResourceButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("HARDWARE.DBF"), QList<Row>{hardware});
    QCOMPARE(f.rows("SOFTWARE.DBF"), QList<Row>{software});
    QVERIFY(f.rows("Resources.dbf").isEmpty());
}

void TestResources::leavesAnOpenSystemAlone() {
    Fixture f;
    f.addResource("HARDWARE", "MOUSE", "Rodent");
    f.append("HARDWARE.DBF", {{"SYSID", "QN0001"}, {"DESC", "Disk"}});
    f.list("HARDWARE", "MOUSE");
    // System Info shows QN0001 over the shared tables while the pool window is open.
    QWidget infoMain;
    SystemInfoWindow info(*f.dm, &infoMain);
    f.dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("QN0001"), true, true);
    f.dm->IPTableOpenClose("SysID", "", false, true);
    f.dm->HWTableOpenClose("SysID", "", false, true);
    f.dm->SWTableOpenClose("SysID", "", false, true);
    info.show();
    QCOMPARE(info.ui().DBGrid2->model()->rowCount(), 1);

    f.giveTo("QN0001");
    QCOMPARE(entries(f.ui().ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(f.dm->SysTable->isActive());
    QCOMPARE(f.dm->SysTable->filter(), DataModule::oneSystemFilter("QN0001"));
    QCOMPARE(f.dm->SysTable->fieldText("SYSID"), QString("QN0001"));
    QVERIFY(f.dm->HWTable->isActive());
    QCOMPARE(f.dm->HWTable->indexName(), QString("SysID"));
    QCOMPARE(info.ui().DBGrid2->model()->rowCount(), 2);
    QCOMPARE(info.systemId(), QString("QN0001"));
    QVERIFY(f.rows("Resources.dbf").isEmpty());
    click(info.ui().CancelButton);
}

void TestResources::poolClosedByAnotherWindow() {
    Fixture f;
    f.addResource("HARDWARE", "CPU", "Chip");
    f.addResource("HARDWARE", "MOUSE", "Rodent");
    f.append("HARDWARE.DBF", {{"SYSID", "QN0001"}, {"DESC", "Disk"}, {"CATEGORY", "CPU"}});
    f.list("HARDWARE", "CPU");
    // System Info's Delete opens the shared pool table unfiltered, appends and closes it.
    QWidget infoMain;
    SystemInfoWindow info(*f.dm, &infoMain);
    f.dm->SysTableOpenClose("SysID", DataModule::oneSystemFilter("QN0001"), true, true);
    f.dm->HWTableOpenClose("SysID", "", false, true);
    info.show();
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.ui().HDeleteButton);
    click(info.ui().CancelButton);
    Table& pool = *f.dm->ResourceTable;
    QTRY_VERIFY(pool.isActive());
    QCOMPARE(pool.filter(), DataModule::kindCategoryFilter("HARDWARE", "CPU"));
    QStringList items = f.column("ITEM");
    items.sort();
    QCOMPARE(items, (QStringList{"Chip", "Disk"}));
    // What is selected is what gets deleted.
    f.ui().DBGrid1->selectRow(f.column("ITEM").indexOf("Disk"));
    click(f.ui().Button1);
    QCOMPARE(f.column("ITEM"), (QStringList{"Chip"}));
    QCOMPARE(f.rows("Resources.dbf").size(), 2);

    // After Close the pool stays closed.
    click(f.ui().CloseButton);
    QTest::qWait(10);
    QVERIFY(!pool.isActive());
}

void TestResources::closeReturnsToClosedState() {
    Fixture f;
    f.addResource("HARDWARE", "CPU", "Chip");
    auto& ui = f.ui();
    f.list("HARDWARE", "CPU");
    click(ui.ExistingSystemRadio);
    ui.ExistingCombo->setCurrentIndex(2);
    click(ui.CloseButton);
    QVERIFY(!f.window->isVisible());
    QVERIFY(f.main.isVisible());
    QVERIFY(ui.DBGrid1->isHidden());
    Table& pool = *f.dm->ResourceTable;
    QVERIFY(!pool.isActive());
    QVERIFY(pool.indexName().isEmpty());
    QVERIFY(pool.filter().isEmpty());
    QVERIFY(!pool.filtered());
    QCOMPARE(ui.MainCombo->count(), 0);
    QCOMPARE(ui.CategoryCombo->count(), 0);
    QVERIFY(!ui.CategoryCombo->isEnabled());
    // The system choice stays until Clear Boxes.
    QVERIFY(ui.ExistingSystemRadio->isChecked());
    QCOMPARE(ui.ExistingCombo->currentText(), QString("QN0003"));

    // Shown again: the lists are filled once more, not doubled; Esc closes as Close does.
    f.show();
    QCOMPARE(entries(ui.MainCombo), (QStringList{"HARDWARE"}));
    QVERIFY(pool.isActive());
    QTest::keyClick(f.window.get(), Qt::Key_Escape);
    QVERIFY(!f.window->isVisible());
    QVERIFY(!pool.isActive());
    QCOMPARE(ui.MainCombo->count(), 0);
    QVERIFY(MessageService::takeShown().isEmpty());
}

QN_GUI_TEST_MAIN(TestResources)
#include "test_resources.moc"
