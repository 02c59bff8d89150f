// Recording a system as a user does: typing the address, names, items, and saving.
#include "addsystemwindow.h"
#include "fixtures.h"
#include "tablemodel.h"
#include "ui_addsystemwindow.h"

using namespace qn;
namespace user = qn::test::user;

namespace {

struct Fixture : test::Inventory {
    using Inventory::Inventory;
    AddSystemWindow& open() {
        menu({"Systems", "New", "Create"});
        AddSystemWindow& w = program->TForm18();
        QApplication::setActiveWindow(&w);
        return w;
    }
};

QStringList octets(Ui::AddSystemWindow& ui) {
    return {ui.IP1->text(), ui.IP2->text(), ui.IP3->text(), ui.IP4->text()};
}

const QString kOver255("An IP Address CANNOT be over 255!");
const QString kTaken("IP Address already exists! Please choose another");

} // namespace

class TestAddSystem : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }

    // A new system typed from the keyboard: every box, the names proposed, an address straight
    // through (the suggested last octet replaced), hardware added with Enter on its button,
    // software with a click, then Enter in a box saves.
    void typedRoadWithItems() {
        Fixture f("ABC");
        f.system("ABC0000", {{"COMPANY", "Zeta"}}, "10.0.0.1");
        AddSystemWindow& w = f.open();
        auto& ui = w.ui();
        QVERIFY(!f.program->TForm6().isVisible());
        QCOMPARE(ui.Label16->text(), QString("ABC0001"));
        QCOMPARE(test::entries(ui.CompanyName), QStringList{"Zeta"});
        user::click(ui.UserFirstEdit);
        for (const char* text : {"Pat", "O'Brien", "555-0199", "12", "HQ", "4.12", "high"}) {
            user::type(text);
            user::tab(); // leaving the last name proposes the names
        }
        QVERIFY(ui.ComputerName->hasFocus());
        QCOMPARE(ui.ComputerName->text() + ui.Alias4->text(), QString("po'brienO'BRIEN"));
        user::tab();
        user::type("10.0.0.");
        user::type("7");
        user::tab(); // leaving box 4: the address is free
        QVERIFY(ui.Alias1->hasFocus() && MessageService::takeShown().isEmpty());
        user::tab(3);
        user::key(Qt::Key_A, Qt::ControlModifier);
        user::type("PAT");
        user::tab();
        user::type("PRNT"); // the type list finds its entry by the typed letters
        QCOMPARE(ui.ComputerType->currentText(), QString("PRNT - Printer"));

        user::fill(ui.HWDescriptionEdit, "Disk");
        for (int i = 0; i < 10 && !ui.HWAddButton->hasFocus(); ++i)
            user::tab();
        user::enter(); // presses the focused button, not Save
        QVERIFY(ui.HWDescriptionEdit->hasFocus() && ui.HWDescriptionEdit->text().isEmpty());
        QCOMPARE(test::entries(ui.DBGrid2, 1), QStringList{"Disk"});
        user::fill(ui.SWDescriptionEdit, "Editor");
        user::click(ui.SWAddButton);
        QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
        // Nothing is stored before Save: another window sees neither system nor items.
        QVERIFY(f.rows("HARDWARE.DBF").isEmpty() && f.rows("SYSTEMS.DBF").size() == 1);

        // A company typed into the box is stored and listed once the window is shown again.
        user::click(ui.CompanyName);
        user::type("New Co");
        user::click(ui.SWSerialEdit);
        user::enter(); // Save stays the default while a box has the focus
        QVERIFY(MessageService::takeShown().isEmpty() && w.isVisible());
        QCOMPARE(ui.UserLastEdit->text(), QString("O'Brien")); // boxes stay
        QCOMPARE(
            test::fields(f.rows("SYSTEMS.DBF").value(1),
                         "SYSID USERFIRST USERLAST PHONE PH_EXT LOCATION ROOM SECURITY COMPANY"),
            QString("ABC0001 Pat O'Brien 555-0199 12 HQ 4.12 high New Co"));
        QCOMPARE(
            test::fields(f.rows("IP.DBF").value(1),
                         "SYSID COMPUTER IPSTRING IP4 ALIAS1 ALIAS2 ALIAS3 ALIAS4 TYPE TYPEDESC"),
            QString("ABC0001 po'brien 10007 7 po'brien o'brien PO'BRIEN PAT PRNT Printer"));
        QCOMPARE(f.column("HARDWARE.DBF", "SYSID DESC"), QStringList{"ABC0001 Disk"});
        QCOMPARE(f.column("SOFTWARE.DBF", "SYSID DESC"), QStringList{"ABC0001 Editor"});
        // After Save an item is stored at once, and shown in the grid from the table.
        user::fill(ui.HWDescriptionEdit, "Mouse");
        user::click(ui.HWAddButton);
        QCOMPARE(f.column("HARDWARE.DBF", "DESC"), (QStringList{"Disk", "Mouse"}));
        QCOMPARE(test::entries(ui.DBGrid2, 1), (QStringList{"Disk", "Mouse"}));
        user::click(ui.CancelButton);
        f.open();
        QCOMPARE(test::entries(ui.CompanyName), (QStringList{"New Co", "Zeta"}));
    }

    // Typing and pasting into the four boxes: dots move on, box 4 alone is range-checked, the
    // suggested free last octet is shown selected, a recorded address is refused on leaving box 4
    // and at Save. No grid on the IP table moves.
    void addressBoxes() {
        Fixture f;
        f.system("QN0001", {}, "10.20.30.1");
        auto& ui = f.open().ui();
        const quint64 reloads = TableModel::reloads();
        user::click(ui.IP1);
        user::type("192");
        QVERIFY(ui.IP2->hasFocus());
        user::type(".10."); // a leading dot never stays
        QVERIFY(ui.IP2->text() == "10" && ui.IP3->hasFocus());
        user::fill(ui.IP1, "300"); // boxes 1 to 3 make no range test
        QVERIFY(ui.IP1->text() == "300" && MessageService::takeShown().isEmpty());
        user::fill(ui.IP4, "300");
        QCOMPARE(test::said(), kOver255);
        QVERIFY(ui.IP4->text().isEmpty() && ui.IP4->hasFocus());

        user::click(ui.IP2);
        user::paste("10.20.30.7");
        QCOMPARE(octets(ui), (QStringList{"10", "20", "30", "7"}));
        QVERIFY(ui.IP4->hasFocus());
        user::fill(ui.IP3, "");
        user::paste("99"); // not an address: an ordinary paste
        QCOMPARE(ui.IP3->text(), QString("99"));
        user::click(ui.IP1);
        user::paste(" 10.20.30.300 ");
        QCOMPARE(test::said(), kOver255);
        QCOMPARE(octets(ui), (QStringList{"10", "20", "30", ""}));
        user::click(ui.IP1);
        user::pasteFromMenu("10.20.30.9"); // the context menu's Paste takes the same road
        QCOMPARE(octets(ui), (QStringList{"10", "20", "30", "9"}));
        QVERIFY(ui.IP4->hasFocus());

        user::fill(ui.IP1, "10.20.30.");                // ends by leaving box 3
        QCOMPARE(ui.IP4->selectedText(), QString("2")); // shown, and replaced by typing
        user::type("1");
        user::tab();
        QCOMPARE(test::said(), kTaken);
        QVERIFY(ui.IP4->hasFocus() && ui.IP4->text() == "1");
        user::enter(); // Save refuses the recorded address too
        QCOMPARE(test::said(), kTaken);
        QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), QStringList{"QN0001"});
        QCOMPARE(TableModel::reloads(), reloads);
        QVERIFY(!f.dm().IPTable->isActive());
    }

    // Another administrator stores the shown ID first: Save takes the next free one, says which,
    // shows it, and stores the items entered here under it. A second Save makes no second system;
    // shown again, the window offers the next number.
    void systemIdShownAndTakenBeforeSave() {
        Fixture f("Q-");
        f.system("Q-0041");
        AddSystemWindow& w = f.open();
        auto& ui = w.ui();
        QCOMPARE(w.systemId(), QString("Q-0042"));
        user::fill(ui.HWDescriptionEdit, "Disk");
        user::click(ui.HWAddButton);
        f.system("Q-0042");
        user::fill(ui.IP1, "10");
        user::click(ui.SaveButton);
        QString text = test::said();
        QVERIFY2(text.contains("Q-0042 was taken by another administrator") &&
                     text.contains("saved as Q-0043"),
                 qPrintable(text));
        QCOMPARE(ui.Label16->text(), QString("Q-0043"));
        QCOMPARE(f.column("HARDWARE.DBF", "SYSID DESC"), QStringList{"Q-0043 Disk"});
        QCOMPARE(f.column("IP.DBF", "SYSID"), QStringList{"Q-0043"});
        user::click(ui.SaveButton);
        QVERIFY(test::said().contains("saved as Q-0043"));
        QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), (QStringList{"Q-0041", "Q-0042", "Q-0043"}));
        user::click(ui.CancelButton);
        f.open();
        QCOMPARE(w.systemId(), QString("Q-0044"));
        // Items entered before Save are held by the window; Cancel asks before dropping them, and
        // only Yes or No answers that question.
        user::fill(ui.HWDescriptionEdit, "Disk");
        user::click(ui.HWAddButton);
        user::click(ui.SWAddButton);
        user::click(ui.RoomEdit);
        user::withBoxes([&] { user::escape(); }, {[](QMessageBox* box) {
                            QCOMPARE(box->text(),
                                     QString("Discard the 2 items entered for this system?"));
                            QTest::keyClick(box, Qt::Key_Escape);
                            box->close();
                            QVERIFY(box->isVisible()); // neither Escape nor closing answers
                            user::clickButton(box, "No");
                        }});
        QVERIFY(w.isVisible() && ui.DBGrid2->model()->rowCount() == 1);
        MessageService::queueAnswer(QMessageBox::Yes);
        user::click(ui.CancelButton);
        QVERIFY(!w.isVisible() && f.program->TForm6().isVisible());
        QVERIFY(f.column("HARDWARE.DBF", "SYSID") == QStringList{"Q-0043"} &&
                f.rows("SOFTWARE.DBF").isEmpty());
        f.open(); // shown again: no items, and Cancel asks nothing
        QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
        user::click(ui.RoomEdit);
        user::escape();
        QVERIFY(!w.isVisible() && MessageService::takeShown().size() == 1);
    }
};

QN_GUI_TEST_MAIN(TestAddSystem)
#include "test_addsystem.moc"
