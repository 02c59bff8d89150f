// The resource pool window as a user works it: filter lists, adding, deleting, and giving
// resources to systems and taking them back (the pool's rules are tested directly).
#include "fixtures.h"
#include "resourceswindow.h"
#include "ui_resourceswindow.h"
#include "ui_systeminfowindow.h"

using namespace qn;
using test::user::choose;
using test::user::click;

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
        menu({"Resources"});
        QApplication::setActiveWindow(&window());
    }
    void list(const QString& mainKind, const QString& category) {
        if (!window().isVisible())
            show();
        QVERIFY(choose(ui().MainCombo, mainKind) && choose(ui().CategoryCombo, category));
    }
    void giveTo(const QString& sysId) {
        if (!ui().ExistingSystemRadio->isChecked())
            click(ui().ExistingSystemRadio);
        QVERIFY(choose(ui().ExistingCombo, sysId));
        click(ui().AddResourceButton);
    }
};

} // namespace

class TestResources : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }

    void filterListsAndGrid() {
        Fixture f;
        f.add("HARDWARE", "CPU", "Chip");
        f.add("SOFTWARE", "CPU", "Microcode");
        f.add("HARDWARE", "MODEM", "Dialer");
        f.add("", "", "Unsorted"); // empty values are not listed
        f.add("HARDWARE", "A'B\"C]", "Unfilterable");
        auto& ui = f.ui();
        f.show();
        QCOMPARE(test::entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
        QCOMPARE(test::entries(ui.CategoryCombo), (QStringList{"A'B\"C]", "CPU", "MODEM"}));
        QVERIFY(ui.DBGrid1->isHidden() && ui.ResourceGroup->isHidden());
        QVERIFY(!choose(ui.CategoryCombo, "MODEM")); // disabled until a main kind is chosen
        f.list("HARDWARE", "MODEM");
        Table& pool = *f.dm().ResourceTable;
        QCOMPARE(f.items(), QStringList{"Dialer"});
        // A new main choice alone does not refilter; the next sub category does.
        QVERIFY(choose(ui.MainCombo, "SOFTWARE"));
        QCOMPARE(f.items(), QStringList{"Dialer"});
        QVERIFY(choose(ui.CategoryCombo, "CPU"));
        QCOMPARE(f.items(), QStringList{"Microcode"});
        // A category no quoting can hold is refused with the error box; the grid stays.
        QVERIFY(choose(ui.MainCombo, "HARDWARE") && choose(ui.CategoryCombo, "A'B\"C]"));
        const auto shown = MessageService::takeShown();
        QVERIFY(shown.size() == 1 && shown[0].kind == MessageService::Kind::Error);
        QCOMPARE(f.items(), QStringList{"Microcode"});
        // Close leaves the table closed and the lists empty; shown again, they are not doubled.
        click(ui.CloseButton);
        QVERIFY(!f.window().isVisible() && f.program->TForm6().isVisible() && !pool.isActive());
        QVERIFY(pool.filter().isEmpty() && !ui.CategoryCombo->isEnabled());
        f.show();
        QCOMPARE(test::entries(ui.MainCombo), (QStringList{"HARDWARE", "SOFTWARE"}));
    }

    void addAndDelete() {
        Fixture f;
        f.add("SOFTWARE", "O/S", "Kernel");
        f.add("SOFTWARE", "O/S", "Shell");
        test::Notes notes;
        auto& ui = f.ui();
        f.show();
        click(ui.Button1); // no grid shown: nothing the user can see is deleted
        QVERIFY(test::said().endsWith("Nothing was deleted."));
        f.list("SOFTWARE", "O/S");
        click(ui.AddButton);
        QVERIFY(ui.DBGrid1->isHidden() && !ui.ResourceGroup->isHidden());
        QVERIFY(choose(ui.MainRCombo, "SOFTWARE") && choose(ui.CategoryRCombo, "OFFICE SUITE"));
        test::user::fill(ui.ItemEdit, "Office");
        for (const char* text : {"SN-1", "PN-2", "LIC-3", "Acme"}) {
            test::user::tab();
            test::user::type(text);
        }
        click(ui.AddRButton);
        QVERIFY(MessageService::takeShown().isEmpty());
        QCOMPARE(notes.last(), QString("\"Office\" added to the pool"));
        QCOMPARE(
            f.rows("RESOURCES.DBF").value(2).values(), // by field name
            (QStringList{"OFFICE SUITE", "Office", "SOFTWARE", "Acme", "LIC-3", "PN-2", "SN-1"}));
        // The new sub category joins its list; the group is emptied for the grid.
        QCOMPARE(test::entries(ui.CategoryCombo), (QStringList{"O/S", "OFFICE SUITE"}));
        QVERIFY(ui.ResourceGroup->isHidden() && !ui.DBGrid1->isHidden());
        QVERIFY(ui.MainRCombo->currentIndex() == -1 && ui.ItemEdit->text().isEmpty());
        // Too long (pasted: the box does not cut it): refused, kept in the box; Cancel drops it.
        click(ui.AddButton);
        test::user::click(ui.ItemEdit);
        test::user::paste(QString(41, u'x'));
        click(ui.AddRButton);
        QVERIFY(test::said().startsWith("Item holds at most 40 characters"));
        QCOMPARE(ui.ItemEdit->text(), QString(41, u'x'));
        click(ui.CancelRButton);
        QVERIFY(ui.ResourceGroup->isHidden() && ui.ItemEdit->text().isEmpty());
        // What is selected is what gets deleted, without a question.
        test::user::clickCell(ui.DBGrid1, f.items().indexOf("Shell"), 1);
        click(ui.Button1);
        click(ui.Button1);
        click(ui.Button1);
        QCOMPARE(test::said(), QString("There is no resource in the list to delete."));
        QCOMPARE(f.column("RESOURCES.DBF", "ITEM"), QStringList{"Office"});
    }

    // What stops a gift: no system chosen, none from the list, no row, a row of neither kind. The
    // row's own kind decides, whatever the main list now shows; a gift leaves the item tables
    // closed.
    void refusedGifts() {
        Fixture f;
        f.add("SOFTWARE", "CPU", "Licence");
        f.add("FIRMWARE", "CPU", "Blob");
        f.add("HARDWARE", "MOUSE", "Rodent");
        auto& ui = f.ui();
        const QString noSystem("You must select a system to add the resource to!");
        const QString pick("Choose a System ID from the list to add the resource to!");
        f.list("FIRMWARE", "CPU");
        click(ui.AddResourceButton);
        QCOMPARE(test::said(), noSystem);
        click(ui.ExistingSystemRadio);
        QCOMPARE(test::entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
        click(ui.AddResourceButton);
        QCOMPARE(test::said(), pick);
        test::user::fill(ui.ExistingCombo, "QN0009");
        test::user::enter();
        click(ui.AddResourceButton);
        QCOMPARE(test::said(), pick);
        f.giveTo("QN0001");
        QVERIFY(test::said().startsWith("This resource's main category is \"FIRMWARE\", neither"));
        QVERIFY(choose(ui.MainCombo, "SOFTWARE") && choose(ui.CategoryCombo, "CPU"));
        QVERIFY(choose(ui.MainCombo, "HARDWARE"));
        test::Notes notes;
        f.giveTo("QN0001");
        QCOMPARE(notes.last(), QString("\"Licence\" given to system QN0001"));
        QCOMPARE(f.column("SOFTWARE.DBF", "SYSID LICENSEKEY"), QStringList{"QN0001 M-Licence"});
        for (Table* t : {f.dm().SWTable, f.dm().SysTable})
            QVERIFY(!t->isActive() && t->indexName().isEmpty() && t->filter().isEmpty());
        QVERIFY(f.dm().ResourceTable->isActive());
        click(ui.AddResourceButton);
        QCOMPARE(test::said(), QString("There is no resource in the list to add to the system."));
        click(ui.ClearResourceButton);
        QVERIFY(ui.ExistingCombo->currentText().isEmpty() && !ui.ExistingSystemRadio->isChecked());
        click(ui.AddResourceButton);
        QCOMPARE(test::said(), noSystem);
        click(ui.ExistingSystemRadio); // listed again: each System ID once
        QCOMPARE(test::entries(ui.ExistingCombo), (QStringList{"QN0001", "QN0002", "QN0003"}));
        QVERIFY(f.rows("HARDWARE.DBF").isEmpty());
    }

    // System Info holds the shared tables open on a system while the pool window gives to it, and
    // its Delete puts the item back into the pool the window shows.
    void sharedTablesOfAnOpenSystem() {
        Fixture f;
        f.add("HARDWARE", "CPU", "Chip");
        f.add("HARDWARE", "CPU", "Rodent");
        f.item("HARDWARE.DBF", "QN0001", "Disk", {{"CATEGORY", "CPU"}});
        SystemInfoWindow& info = f.handOver(DataModule::oneSystemFilter("QN0001"));
        f.list("HARDWARE", "CPU");
        test::user::clickCell(f.ui().DBGrid1, f.items().indexOf("Rodent"), 1);
        f.giveTo("QN0001");
        QCOMPARE(f.dm().SysTable->filter(), DataModule::oneSystemFilter("QN0001"));
        QCOMPARE(test::entries(info.ui().DBGrid2, 2), (QStringList{"Disk", "Rodent"}));
        QApplication::setActiveWindow(&info);
        test::user::clickCell(info.ui().DBGrid2, 0);
        MessageService::queueAnswer(QMessageBox::Yes);
        click(info.ui().HDeleteButton);
        click(info.ui().CancelButton);
        QTRY_VERIFY(f.dm().ResourceTable->isActive());
        QStringList listed = f.items();
        listed.sort();
        QCOMPARE(listed, (QStringList{"Chip", "Disk"}));
    }
};

QN_GUI_TEST_MAIN(TestResources)
#include "test_resources.moc"
