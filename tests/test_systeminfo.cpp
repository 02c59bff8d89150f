// Viewing and editing one system over the tables a search leaves prepared, and its items.
#include "fixtures.h"
#include "itementrywindow.h"
#include "ui_itementrywindow.h"
#include "ui_systeminfowindow.h"

#include <QLabel>
#include <QToolButton>

using namespace qn;
namespace user = test::user;

namespace {

struct Fixture : test::Inventory {
    Fixture() {
        const test::Row pat{{"USERFIRST", "Pat"}, {"USERLAST", "Lee"}};
        system("QN0001", pat + test::Row{{"ROOM", "101"}}, "10.0.0.1",
               {{"COMPUTER", "plee"}, {"TYPE", "UNIX"}});
        system("QN0002", pat + test::Row{{"ROOM", "202"}}, "10.0.0.2", {{"COMPUTER", "plee2"}});
        system("QN0003", {{"USERFIRST", "Kim"}}, "10.0.0.3");
        const test::Row made{{"MANUF", "Acme"}, {"CATEGORY", "Storage"}};
        item("HARDWARE.DBF", "QN0001", "Disk", made + test::Row{{"MODEL", "D-1"}});
        item("HARDWARE.DBF", "QN0001", "Mouse", made + test::Row{{"MODEL", "M-2"}});
        item("HARDWARE.DBF", "QN0003", "Printer", made);
        item("SOFTWARE.DBF", "QN0001", "Editor", made + test::Row{{"LICENSEKEY", "KEY-1"}});
    }
    SystemInfoWindow& info() { return program->TForm10(); }
    QString stored(const QString& file, const QString& id, const QString& field) {
        for (const test::Row& r : rows(file))
            if (r["SYSID"] == id)
                return r[field];
        return "<none>";
    }
};

} // namespace

class TestSystemInfo : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }

    // Shown as the search leaves the tables; Update stores the boxes, the address key and a known
    // type following them, keeps the row's own address and refuses another system's. Cancel
    // drops edits and closes all; the navigator posts a pending edit before it moves.
    void showsUpdatesAndCancels() {
        Fixture f;
        f.program->TForm6().hide();
        auto& ui = f.handOver(DataModule::oneSystemFilter("QN0001")).ui();
        QCOMPARE((QStringList{ui.DBText1->text(), ui.UserFirstEdit->text(), ui.RoomEdit->text(),
                              ui.ComputerName->text(), ui.IP4->text(), ui.MachineType->text()}),
                 (QStringList{"QN0001", "Pat", "101", "plee", "1", "UNIX"}));
        QCOMPARE(test::entries(ui.DBGrid2, 2), (QStringList{"Disk", "Mouse"}));
        QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
        user::fill(ui.RoomEdit, "B-12");
        user::fill(ui.ComputerAlias2, "www");
        user::fill(ui.IP4, "77");
        user::fill(ui.MachineType, "PRNT");
        QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "ROOM"), QString("101"));
        user::enter(); // Update is the default button
        QCOMPARE(test::said(), QString("Record Updated Successfully!"));
        QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "ROOM"), QString("B-12"));
        QCOMPARE(f.stored("IP.DBF", "QN0001", "ALIAS2") + f.stored("IP.DBF", "QN0001", "IPSTRING") +
                     f.stored("IP.DBF", "QN0001", "TYPEDESC"),
                 QString("www100077Printer"));
        user::fill(ui.MachineType, "ZZZZ"); // an unknown code leaves the description
        user::click(ui.UpdateButton);
        QCOMPARE(test::said() + f.stored("IP.DBF", "QN0001", "TYPEDESC"),
                 QString("Record Updated Successfully!Printer"));
        user::fill(ui.IP4, "2");
        user::fill(ui.RoomEdit, "changed");
        user::click(ui.UpdateButton);
        QCOMPARE(test::said(), QString("IP Address already exists! Please choose another"));
        QCOMPARE(f.stored("IP.DBF", "QN0001", "IP4") + f.stored("SYSTEMS.DBF", "QN0001", "ROOM"),
                 QString("77B-12"));
        QVERIFY(ui.IP4->hasFocus());
        user::click(ui.CancelButton);
        QVERIFY(!f.info().isVisible() && f.program->TForm6().isVisible());
        for (Table* t :
             {f.dm().SysTable, f.dm().IPTable, f.dm().HWTable, f.dm().SWTable, f.dm().DummyTable})
            QVERIFY(!t->isActive() && t->indexName().isEmpty() && t->filter().isEmpty() &&
                    !t->filtered());
        QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "ROOM"), QString("B-12"));
        f.handOver(DataModule::userNameFilter("Pat", "Lee"));
        QToolButton* next = ui.DBNavigator1->nextButton();
        user::fill(ui.RoomEdit, "first");
        user::click(next);
        QCOMPARE((QStringList{ui.DBText1->text(), ui.RoomEdit->text(), ui.ComputerName->text()}),
                 (QStringList{"QN0002", "202", "plee2"}));
        QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
        user::click(next); // the filter holds only Pat Lee's two
        user::fill(ui.RoomEdit, "second");
        user::click(ui.DBNavigator1->priorButton());
        QCOMPARE(ui.RoomEdit->text() + ui.DBText1->text(), QString("firstQN0001"));
        QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
        QCOMPARE(f.stored("SYSTEMS.DBF", "QN0002", "ROOM"), QString("second"));
        QVERIFY(MessageService::takeShown().isEmpty());
    }

    // Delete asks whether the item goes back to the pool (Yes is the Resources road); only Yes or
    // No answers, and an empty grid asks nothing. Then items added through the entry forms.
    void deleteAndAddItems() {
        Fixture f;
        auto& ui = f.handOver(DataModule::oneSystemFilter("QN0001")).ui();
        test::Notes notes;
        user::clickCell(ui.DBGrid2, 1); // Mouse
        user::withBoxes([&] { user::click(ui.HDeleteButton); }, {[](QMessageBox* box) {
                            QCOMPARE(box->windowTitle() + ' ' + box->text(),
                                     QString("Alert! Add Hardware back into Resources?"));
                            QTest::keyClick(box, Qt::Key_Escape);
                            box->close();
                            QVERIFY(box->isVisible());
                            user::clickButton(box, "No");
                        }});
        QCOMPARE(test::entries(ui.DBGrid2, 2), QStringList{"Disk"});
        QCOMPARE(notes.last(), QString("Item removed"));
        QVERIFY(f.rows("RESOURCES.DBF").isEmpty());
        MessageService::queueAnswer(QMessageBox::No);
        user::click(ui.HDeleteButton);
        user::click(ui.HDeleteButton);
        QCOMPARE(MessageService::takeShown().size(), 1);
        QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
        QCOMPARE(f.stored("HARDWARE.DBF", "QN0003", "DESC"), QString("Printer")); // untouched
        ItemEntryWindow& hw = f.program->TForm8();
        user::click(ui.HAddButton);
        QApplication::setActiveWindow(&hw);
        QVERIFY(hw.ui().Description->hasFocus() && f.info().isVisible());
        QVERIFY(hw.ui().SystemID->text() == "QN0001" && !hw.ui().SystemID->isEnabled());
        user::type("Scanner");
        user::tab(2);
        user::type("SC-9");
        user::enter(); // Save is the default
        QCOMPARE(notes.last(), QString("Hardware item \"Scanner\" saved to QN0001"));
        QVERIFY(hw.ui().Description->hasFocus() && hw.ui().Description->text().isEmpty());
        QCOMPARE(test::entries(ui.DBGrid2, 4), QStringList{"SC-9"});
        user::fill(hw.ui().Manufacturer, "x");
        user::click(hw.ui().NewButton);
        QVERIFY(hw.ui().Manufacturer->text().isEmpty() && hw.ui().SystemID->text() == "QN0001");
        user::escape();
        QVERIFY(!hw.isVisible() && f.info().isVisible());
        ItemEntryWindow& sw = f.program->TForm9();
        user::click(ui.SAddButton);
        QApplication::setActiveWindow(&sw);
        user::type("Compiler");
        user::tab(2);
        user::type("LIC-7");
        user::enter();
        QCOMPARE(test::entries(ui.DBGrid1, 4), (QStringList{"KEY-1", "LIC-7"}));
        QCOMPARE(f.column("SOFTWARE.DBF", "DESC"), (QStringList{"Editor", "Compiler"}));
    }

    void systemEditedElsewhereIsReadOnly() {
        Fixture f;
        auto& ui = f.info().ui();
        auto readOnlySaying = [&](const QString& id) {
            const QLabel* busy = f.info().busyLabel();
            return f.info().readOnly() && busy->isVisible() && busy->text().contains(id) &&
                   busy->text().contains("another administrator") &&
                   !ui.UpdateButton->isEnabled() && ui.RoomEdit->isReadOnly();
        };
        // Another administrator editing QN0002's row, through an engine of its own.
        test::Sandbox other(f.ws.path("db"));
        const auto held = other.open("SYSTEMS.DBF");
        const auto edit = [&] {
            held->first();
            held->next();
            held->edit();
        };
        edit();
        f.handOver(DataModule::oneSystemFilter("QN0002"));
        QVERIFY(readOnlySaying("QN0002"));
        // Typing reaches nothing: no wait for the lock, the row untouched.
        user::click(ui.RoomEdit);
        user::type("99");
        QCOMPARE(ui.RoomEdit->text(), QString("202"));
        QCOMPARE(f.dm().SysTable->state(), Table::State::Browse);
        user::click(f.info().tryAgainButton());
        QVERIFY(f.info().readOnly());
        held->cancel();
        user::click(f.info().tryAgainButton());
        QVERIFY(!f.info().readOnly() && !f.info().busyLabel()->isVisible());
        user::fill(ui.RoomEdit, "909");
        user::click(ui.UpdateButton);
        QCOMPARE(f.stored("SYSTEMS.DBF", "QN0002", "ROOM"), QString("909"));
        MessageService::takeShown();
        // Taken while shown: the first key is refused at once and the window says why; it
        // becomes editable by itself once the other administrator is done.
        edit();
        user::click(ui.RoomEdit);
        user::key(Qt::Key_1);
        QVERIFY(readOnlySaying("QN0002"));
        QCOMPARE(ui.RoomEdit->text(), QString("909"));
        QCOMPARE(f.dm().SysTable->state(), Table::State::Browse);
        QVERIFY(MessageService::takeShown().isEmpty());
        held->cancel();
        QTRY_VERIFY(!f.info().readOnly());
        user::key(Qt::Key_1);
        QCOMPARE(f.dm().SysTable->state(), Table::State::Edit);
    }
};

QN_GUI_TEST_MAIN(TestSystemInfo)
#include "test_systeminfo.moc"
