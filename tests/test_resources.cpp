// The resource pool window: filter lists, adding, deleting, and giving resources to systems
// and taking them back.
#include "fixtures.h"
#include "mainwindow.h"
#include "poolrules.h"
#include "resourceswindow.h"
#include "ui_mainwindow.h"
#include "ui_resourceswindow.h"
#include "ui_systeminfowindow.h"

#include <QTest>

using namespace qn;
using test::Row;
using test::user::choose;
using test::user::click;
using Kind = MessageService::Kind;

namespace {

struct Fixture : test::Inventory {
    Fixture() {
        for (const char* id : {"QN0003", "QN0001", "QN0002"})
            system(id);
    }
    ResourcesWindow& window() { return program->TForm4(); }
    Ui::ResourcesWindow& ui() { return window().ui(); }
    void add(const QString& kind, const QString& category, const QString& item) {
        resource(kind, category, item,
                 {{"MDL_LIC", "M-" + item}, {"SERIAL", "S"}, {"PART", "P"}, {"MANUF", "Maker"}});
    }
    QStringList items() { return test::entries(ui().DBGrid1, 1); }
    void show() {
        test::user::menu(program->TForm6().ui().MainMenu1, {"Resources"});
        QApplication::setActiveWindow(&window());
    }
    // Shows the window and lists one kind and category in the grid.
    void list(const QString& mainKind, const QString& category) {
        if (!window().isVisible())
            show();
        QVERIFY(choose(ui().MainCombo, mainKind) && choose(ui().CategoryCombo, category));
    }
    // Gives the selected resource to a system chosen in the list.
    void giveTo(const QString& sysId) {
        if (!ui().ExistingSystemRadio->isChecked())
            click(ui().ExistingSystemRadio);
        QVERIFY(choose(ui().ExistingCombo, sysId));
        click(ui().AddResourceButton);
    }
};

QString lastText() {
    return MessageService::takeShown().value(0).text;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void filterListsAndGrid();
    void addResource();
    void deleteResource();
    void giveToASystemAndTakeBack();
    void itemKindFollowsTheRow();
    void systemChoice();
    void sharedTablesOfAnOpenSystem();
    void closeReturnsToClosedState();
};

void TestResources::filterListsAndGrid() {
    Fixture f;
    f.add("HARDWARE", "CPU", "Chip");
    f.add("SOFTWARE", "CPU", "Microcode");
    f.add("HARDWARE", "MODEM", "Dialer");
    f.add("HARDWARE", "MODEM", "Fax");
    f.add("", "", "Unsorted"); // empty values are not listed
    f.add("HARDWARE", "O'BRIEN\"S", "Pat O'Brien's \"big\" disk");
    f.add("HARDWARE", "A'B\"C]", "Unfilterable");
    auto& ui = f.ui();
    f.show();
    QCOMPARE(test::entries(ui.MainRCombo), pool::mainKinds());
    QCOMPARE(test::entries(ui.CategoryRCombo), pool::subCategories());
    QCOMPARE(test::entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
    QCOMPARE(test::entries(ui.CategoryCombo),
             (QStringList{"A'B\"C]", "CPU", "MODEM", "O'BRIEN\"S"}));
    QCOMPARE(ui.MainCombo->currentIndex(), -1);
    QVERIFY(ui.DBGrid1->isHidden() && ui.ResourceGroup->isHidden());
    Table& pool = *f.dm().ResourceTable;
    QVERIFY(pool.isActive() && !pool.filtered());

    QVERIFY(!choose(ui.CategoryCombo, "MODEM")); // disabled until a main kind is chosen
    QVERIFY(choose(ui.MainCombo, "HARDWARE") && ui.DBGrid1->isHidden());
    QVERIFY(choose(ui.CategoryCombo, "MODEM") && !ui.DBGrid1->isHidden());
    QCOMPARE(pool.filter(), DataModule::kindCategoryFilter("HARDWARE", "MODEM"));
    QCOMPARE(pool.indexName(), QString("MAIN"));
    QStringList titles;
    for (int c = 0; c < 5; ++c)
        titles << ui.DBGrid1->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles,
             (QStringList{"Manufacturer", "Item", "Model #/License Key", "Serial #", "Part #"}));
    QStringList listed = f.items();
    listed.sort();
    QCOMPARE(listed, (QStringList{"Dialer", "Fax"}));
    // A new main choice alone does not refilter; the next sub category does.
    QVERIFY(choose(ui.MainCombo, "SOFTWARE"));
    QCOMPARE(f.items().size(), 2);
    QVERIFY(choose(ui.CategoryCombo, "CPU"));
    QCOMPARE(f.items(), QStringList{"Microcode"});
    QVERIFY(MessageService::takeShown().isEmpty());
    // Items given back from systems may carry any category text; a value no quoting can hold
    // is refused with the error box and the grid stays as it was.
    QVERIFY(choose(ui.MainCombo, "HARDWARE") && choose(ui.CategoryCombo, "O'BRIEN\"S"));
    QCOMPARE(f.items(), QStringList{"Pat O'Brien's \"big\" disk"});
    QVERIFY(choose(ui.CategoryCombo, "A'B\"C]"));
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Error);
    QVERIFY(shown[0].text.contains("A'B\"C]"));
    QCOMPARE(f.items(), QStringList{"Pat O'Brien's \"big\" disk"});
}

void TestResources::addResource() {
    Fixture f;
    f.add("SOFTWARE", "O/S", "Kernel");
    f.add("HARDWARE", "MOUSE", "Rodent");
    auto& ui = f.ui();
    f.list("SOFTWARE", "O/S");
    click(ui.AddButton);
    QVERIFY(ui.DBGrid1->isHidden() && !ui.ResourceGroup->isHidden());
    QVERIFY(choose(ui.MainRCombo, "SOFTWARE") && choose(ui.CategoryRCombo, "OFFICE SUITE"));
    test::user::fill(ui.ItemEdit, "O'Brien's \"Office\"");
    for (const char* text : {"SN-1", "PN-2", "LIC-3", "Acme  "}) {
        test::user::tab();
        test::user::type(text);
    }
    click(ui.AddRButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("RESOURCES.DBF").value(2).values(), // by field name
             (QStringList{"OFFICE SUITE", "O'Brien's \"Office\"", "SOFTWARE", "Acme", "LIC-3",
                          "PN-2", "SN-1"}));
    // The new sub category joins its list in order; the group is emptied for the grid.
    QCOMPARE(test::entries(ui.CategoryCombo), (QStringList{"MOUSE", "O/S", "OFFICE SUITE"}));
    QCOMPARE(ui.CategoryCombo->currentText(), QString("O/S"));
    QVERIFY(ui.ResourceGroup->isHidden() && !ui.DBGrid1->isHidden());
    QVERIFY(ui.MainRCombo->currentIndex() == -1 && ui.ItemEdit->text().isEmpty() &&
            ui.ManufacturerEdit->text().isEmpty());

    // Cancel drops what was typed; an empty resource is stored and lists no empty entry.
    click(ui.AddButton);
    test::user::fill(ui.ItemEdit, "Discarded");
    click(ui.CancelRButton);
    QVERIFY(ui.ResourceGroup->isHidden() && ui.ItemEdit->text().isEmpty());
    click(ui.AddButton);
    click(ui.AddRButton);
    QCOMPARE(f.column("RESOURCES.DBF", "ITEM"),
             (QStringList{"Kernel", "Rodent", "O'Brien's \"Office\"", ""}));
    QCOMPARE(test::entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));

    // Too long (pasted: the box does not cut it): refused, kept in the box, nothing stored.
    click(ui.AddButton);
    test::user::click(ui.ItemEdit);
    test::user::paste(QString(41, u'x'));
    click(ui.AddRButton);
    QVERIFY(lastText().startsWith("Item holds at most 40 characters"));
    QCOMPARE(ui.ItemEdit->text(), QString(41, u'x'));
    QCOMPARE(f.dm().ResourceTable->state(), Table::State::Browse);
    QCOMPARE(f.rows("RESOURCES.DBF").size(), 4);
}

void TestResources::deleteResource() {
    Fixture f;
    f.add("HARDWARE", "CPU", "One");
    f.add("HARDWARE", "CPU", "Two");
    f.add("HARDWARE", "MODEM", "Other");
    auto& ui = f.ui();
    f.show();
    // No grid shown yet: nothing the user can see is deleted.
    click(ui.Button1);
    QCOMPARE(lastText(), QString("The list of resources is not shown: choose a main category and "
                                 "a sub category first. Nothing was deleted."));
    f.list("HARDWARE", "CPU");
    test::user::clickCell(ui.DBGrid1, f.items().indexOf("Two"), 1);
    click(ui.Button1);
    QVERIFY(MessageService::takeShown().isEmpty()); // no question
    QCOMPARE(f.items(), QStringList{"One"});
    // The add group covers the grid.
    click(ui.AddButton);
    click(ui.Button1);
    QVERIFY(lastText().contains("Nothing was deleted"));
    click(ui.CancelRButton);
    click(ui.Button1);
    click(ui.Button1);
    QCOMPARE(lastText(), QString("There is no resource in the list to delete."));
    QCOMPARE(f.column("RESOURCES.DBF", "ITEM"), QStringList{"Other"});
}

// The road through both windows: a pool item chosen and given to a system, then deleted from
// System Info back into the pool, with every field as it was.
void TestResources::giveToASystemAndTakeBack() {
    Fixture f;
    f.add("HARDWARE", "CPU", "Fast chip");
    f.add("SOFTWARE", "O'BRIEN'S", "Kernel");
    const QList<Row> pool = f.rows("RESOURCES.DBF");
    f.list("HARDWARE", "CPU");
    test::user::clickCell(f.ui().DBGrid1, 0, 1);
    f.giveTo("QN0002");
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.rows("HARDWARE.DBF").value(0).values(), // by field name
             (QStringList{"CPU", "Fast chip", "Maker", "M-Fast chip", "P", "S", "QN0002"}));
    QCOMPARE(f.items(), QStringList());
    // The item and systems tables are closed again, the pool stays open.
    for (Table* t : {f.dm().HWTable, f.dm().SysTable})
        QVERIFY(!t->isActive() && t->indexName().isEmpty() && t->filter().isEmpty());
    QVERIFY(f.dm().ResourceTable->isActive() && choose(f.ui().MainCombo, "SOFTWARE"));
    QVERIFY(choose(f.ui().CategoryCombo, "O'BRIEN'S"));
    f.giveTo("QN0002");
    QCOMPARE(f.column("SOFTWARE.DBF", "SYSID", "LICENSEKEY"), QStringList{"QN0002 M-Kernel"});
    QVERIFY(f.rows("RESOURCES.DBF").isEmpty());
    click(f.ui().AddResourceButton); // an empty grid: nothing to give
    QCOMPARE(lastText(), QString("There is no resource in the list to add to the system."));
    click(f.ui().CloseButton);

    // Taken back from System Info: both rows return to the pool as they were.
    auto& info = f.handOver(DataModule::oneSystemFilter("QN0002")).ui();
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.HDeleteButton);
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.SDeleteButton);
    click(info.CancelButton);
    MessageService::takeShown();
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty() && f.rows("SOFTWARE.DBF").isEmpty());
    QCOMPARE(f.rows("RESOURCES.DBF"), pool);
}

void TestResources::itemKindFollowsTheRow() {
    Fixture f;
    f.add("SOFTWARE", "CPU", "Licence");
    f.add("FIRMWARE", "CPU", "Blob");
    f.add("HARDWARE", "MOUSE", "Rodent");
    auto& ui = f.ui();
    f.list("SOFTWARE", "CPU");
    // The main list now says HARDWARE while the grid still shows the software row.
    QVERIFY(choose(ui.MainCombo, "HARDWARE"));
    QCOMPARE(f.items(), QStringList{"Licence"});
    f.giveTo("QN0001");
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    QCOMPARE(f.column("SOFTWARE.DBF", "LICENSEKEY"), QStringList{"M-Licence"});
    // A kind that is neither stays in the pool, and nothing is written.
    QVERIFY(choose(ui.MainCombo, "FIRMWARE") && choose(ui.CategoryCombo, "CPU"));
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), QString("This resource's main category is \"FIRMWARE\", neither HARDWARE "
                                 "nor SOFTWARE, so it cannot be added to a system. It stays in "
                                 "the pool."));
    QCOMPARE(f.rows("RESOURCES.DBF").size(), 2);
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    QCOMPARE(f.items(), QStringList{"Blob"});
}

void TestResources::systemChoice() {
    Fixture f;
    f.add("HARDWARE", "CPU", "Chip");
    auto& ui = f.ui();
    const QString noSystem("You must select a system to add the resource to!");
    const QString pick("Choose a System ID from the list to add the resource to!");
    f.list("HARDWARE", "CPU");
    QCOMPARE(ui.ExistingCombo->count(), 0);
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), noSystem);
    click(ui.ExistingSystemRadio);
    QCOMPARE(test::entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
    QVERIFY(ui.ExistingCombo->currentText().isEmpty() && !f.dm().SysTable->isActive());
    // No System ID picked from the list, or one typed that is not in it: refused.
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), pick);
    test::user::fill(ui.ExistingCombo, "QN0009");
    test::user::enter();
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), pick);
    QCOMPARE(ui.ExistingCombo->count(), 3);
    QVERIFY(choose(ui.ExistingCombo, "QN0002"));
    click(ui.ClearResourceButton);
    QVERIFY(ui.ExistingCombo->currentText().isEmpty() && !ui.ExistingSystemRadio->isChecked());
    click(ui.AddResourceButton);
    QCOMPARE(lastText(), noSystem);
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    // Chosen again: each System ID once.
    f.giveTo("QN0001");
    QCOMPARE(test::entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
    QCOMPARE(f.column("HARDWARE.DBF", "SYSID"), QStringList{"QN0001"});
}

// System Info holds the shared tables open on a system while the pool window gives to it, and
// its Delete opens the shared pool table unfiltered and closes it.
void TestResources::sharedTablesOfAnOpenSystem() {
    Fixture f;
    f.add("HARDWARE", "CPU", "Chip");
    f.add("HARDWARE", "CPU", "Rodent");
    f.item("HARDWARE.DBF", "QN0001", "Disk", {{"CATEGORY", "CPU"}});
    SystemInfoWindow& info = f.handOver(DataModule::oneSystemFilter("QN0001"));
    f.list("HARDWARE", "CPU");
    test::user::clickCell(f.ui().DBGrid1, f.items().indexOf("Rodent"), 1);
    f.giveTo("QN0001");
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.dm().SysTable->filter(), DataModule::oneSystemFilter("QN0001"));
    QCOMPARE(f.dm().HWTable->indexName(), QString("SysID"));
    QCOMPARE(test::entries(info.ui().DBGrid2, 2), (QStringList{"Disk", "Rodent"}));
    QCOMPARE(info.systemId(), QString("QN0001"));

    QApplication::setActiveWindow(&info);
    test::user::clickCell(info.ui().DBGrid2, 0);
    MessageService::queueAnswer(QMessageBox::Yes);
    click(info.ui().HDeleteButton);
    click(info.ui().CancelButton);
    Table& pool = *f.dm().ResourceTable;
    QTRY_VERIFY(pool.isActive());
    QCOMPARE(pool.filter(), DataModule::kindCategoryFilter("HARDWARE", "CPU"));
    QStringList listed = f.items();
    listed.sort();
    QCOMPARE(listed, (QStringList{"Chip", "Disk"}));
    // What is selected is what gets deleted.
    QApplication::setActiveWindow(&f.window());
    test::user::clickCell(f.ui().DBGrid1, f.items().indexOf("Disk"), 1);
    click(f.ui().Button1);
    QCOMPARE(f.items(), QStringList{"Chip"});
}

void TestResources::closeReturnsToClosedState() {
    Fixture f;
    f.add("HARDWARE", "CPU", "Chip");
    auto& ui = f.ui();
    f.list("HARDWARE", "CPU");
    click(ui.ExistingSystemRadio);
    QVERIFY(choose(ui.ExistingCombo, "QN0003"));
    click(ui.CloseButton);
    QVERIFY(!f.window().isVisible() && f.program->TForm6().isVisible());
    Table& pool = *f.dm().ResourceTable;
    QVERIFY(!pool.isActive() && pool.indexName().isEmpty() && pool.filter().isEmpty() &&
            !pool.filtered());
    QCOMPARE(ui.MainCombo->count() + ui.CategoryCombo->count(), 0);
    QVERIFY(!ui.CategoryCombo->isEnabled());
    // The system choice stays until Clear Boxes.
    QVERIFY(ui.ExistingSystemRadio->isChecked());
    QCOMPARE(ui.ExistingCombo->currentText(), QString("QN0003"));
    // Shown again: the lists are filled once more, not doubled; Esc closes as Close does.
    f.show();
    QCOMPARE(test::entries(ui.MainCombo), QStringList{"HARDWARE"});
    QVERIFY(pool.isActive());
    test::user::click(ui.MainComboLabel);
    test::user::escape();
    QVERIFY(!f.window().isVisible() && !pool.isActive() && MessageService::takeShown().isEmpty());
}

QN_GUI_TEST_MAIN(TestResources)
#include "test_resources.moc"
