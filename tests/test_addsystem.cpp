// Recording a system as a user does: typing the address, names, items, and saving.
#include "addsystemwindow.h"
#include "fixtures.h"
#include "mainwindow.h"
#include "tablemodel.h"
#include "ui_addsystemwindow.h"
#include "ui_mainwindow.h"

#include <QTest>

using namespace qn;
namespace user = qn::test::user;

namespace {

struct Fixture : test::Inventory {
    using Inventory::Inventory;
    AddSystemWindow& open() {
        user::menu(program->TForm6().ui().MainMenu1, {"Systems", "New", "Create"});
        AddSystemWindow& w = program->TForm18();
        QApplication::setActiveWindow(&w);
        return w;
    }
};

QStringList octets(Ui::AddSystemWindow& ui) {
    return {ui.IP1->text(), ui.IP2->text(), ui.IP3->text(), ui.IP4->text()};
}

QString shown() {
    return MessageService::takeShown().value(0).text;
}

const QString kOver255("An IP Address CANNOT be over 255!");
const QString kTaken("IP Address already exists! Please choose another");

} // namespace

class TestAddSystem : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void typedRoadWithItems();
    void addressBoxes();
    void freeAddressAndDuplicates();
    void heldItemsAndCancel();
    void systemIdShownAndTakenBeforeSave();
    void companyList();
    void saveStoresEveryBox();
};

// A new system typed from the keyboard: names, an address straight through (the suggested last
// octet replaced), hardware added with Enter on its button, software with a click, then Enter
// in a box saves.
void TestAddSystem::typedRoadWithItems() {
    Fixture f("ABC");
    f.put("IP.DBF", test::Row{{"SYSID", "ABC0000"}} + test::octets("10.0.0.1"));
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QVERIFY(!f.program->TForm6().isVisible());
    QCOMPARE(ui.Label16->text(), QString("ABC0001"));
    user::click(ui.UserFirstEdit);
    user::type("Ann");
    user::tab();
    user::type("Lee");
    user::tab(); // leaving the last name proposes the names
    QCOMPARE(ui.ComputerName->text() + ui.Alias4->text(), QString("aleeLEE"));
    user::tab(5); // phone, extension, location, room, security: to the computer name
    QVERIFY(ui.ComputerName->hasFocus());
    user::tab();
    user::type("10.0.0.5");
    QCOMPARE(octets(ui), (QStringList{"10", "0", "0", "5"}));
    // Typing over an address entered before replaces it box by box.
    user::click(ui.ComputerName);
    user::tab();
    user::type("10.0.0.7");
    user::tab(); // leaving box 4: the address is free
    QVERIFY(ui.Alias1->hasFocus() && MessageService::takeShown().isEmpty());

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
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty() && f.rows("SYSTEMS.DBF").isEmpty());

    user::click(ui.SWSerialEdit);
    user::enter(); // Save stays the default while a box has the focus
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), QStringList{"ABC0001"});
    QCOMPARE(f.column("HARDWARE.DBF", "SYSID", "DESC"), QStringList{"ABC0001 Disk"});
    QCOMPARE(f.column("SOFTWARE.DBF", "SYSID", "DESC"), QStringList{"ABC0001 Editor"});
    const test::Row ip = f.rows("IP.DBF").last();
    QCOMPARE(ip["IPSTRING"] + ' ' + ip["COMPUTER"], QString("10007 alee"));
    // After Save an item is stored at once, and shown in the grid from the table.
    user::fill(ui.HWDescriptionEdit, "Mouse");
    user::click(ui.HWAddButton);
    QCOMPARE(f.column("HARDWARE.DBF", "DESC"), (QStringList{"Disk", "Mouse"}));
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
}

// Typing and pasting into the four boxes: dots move on, box 4 alone is range-checked.
void TestAddSystem::addressBoxes() {
    Fixture f;
    f.system("QN0000", {}, "10.20.30.200");
    auto& ui = f.open().ui();
    user::click(ui.IP1);
    user::type("192");
    QVERIFY(ui.IP2->hasFocus());
    user::type(".");
    QVERIFY(ui.IP2->text().isEmpty()); // a leading dot never stays
    user::type("10.");
    QCOMPARE(ui.IP2->text(), QString("10"));
    QVERIFY(ui.IP3->hasFocus());
    user::fill(ui.IP1, "300"); // boxes 1 to 3 make no range test
    QCOMPARE(ui.IP1->text(), QString("300"));
    QVERIFY(MessageService::takeShown().isEmpty());
    user::fill(ui.IP4, "300");
    QCOMPARE(shown(), kOver255);
    QVERIFY(ui.IP4->text().isEmpty() && ui.IP4->hasFocus());
    user::type("12.");
    QVERIFY(shown().contains("not a number"));
    user::type("7.");
    QCOMPARE(ui.IP4->text(), QString("7.")); // a short trailing dot stays
    user::key(Qt::Key_Backspace);
    user::key(Qt::Key_Backspace);
    user::type("255");
    QVERIFY(ui.Alias1->hasFocus());
    MessageService::takeShown();

    user::click(ui.IP2);
    user::paste("10.20.30.7");
    QCOMPARE(octets(ui), (QStringList{"10", "20", "30", "7"}));
    QVERIFY(ui.IP4->hasFocus());
    user::fill(ui.IP3, "");
    user::paste("99"); // not an address: an ordinary paste
    QCOMPARE(ui.IP3->text(), QString("99"));
    user::click(ui.IP1);
    user::paste(" 10.20.30.300 ");
    QCOMPARE(shown(), kOver255);
    QCOMPARE(octets(ui), (QStringList{"10", "20", "30", ""}));
    user::paste("10.20.30.200"); // a recorded address: refused when box 4 is left
    QCOMPARE(shown(), kTaken);
    QVERIFY(ui.IP4->hasFocus());
    user::click(ui.IP1);
    user::pasteFromMenu("10.20.30.9"); // the context menu's Paste takes the same road
    QCOMPARE(octets(ui), (QStringList{"10", "20", "30", "9"}));
    QVERIFY(ui.IP4->hasFocus());
}

// The suggested last octet is shown selected (the free-host rule itself is tested directly);
// a recorded address is refused on leaving box 4 and at Save. No grid on the IP table moves.
void TestAddSystem::freeAddressAndDuplicates() {
    Fixture f;
    f.system("QN0001", {}, "10.0.0.1");
    auto& ui = f.open().ui();
    const quint64 reloads = TableModel::reloads();
    user::click(ui.ComputerName);
    user::tab();
    user::type("10.0.0."); // ends by leaving box 3
    QVERIFY(ui.IP4->hasFocus());
    QCOMPARE(ui.IP4->selectedText(), QString("2")); // shown, and replaced by typing
    user::type("1");
    user::tab();
    QCOMPARE(shown(), kTaken);
    QVERIFY(ui.IP4->hasFocus());
    QCOMPARE(ui.IP4->text(), QString("1"));
    user::enter(); // Save refuses the recorded address too
    QCOMPARE(shown(), kTaken);
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), QStringList{"QN0001"});
    QCOMPARE(TableModel::reloads(), reloads);
    QVERIFY(!f.dm().IPTable->isActive());
}

// Items entered before Save are held by the window; Cancel asks before dropping them, and
// only Yes or No answers that question.
void TestAddSystem::heldItemsAndCancel() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
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
    QVERIFY(w.isVisible());
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 1);
    MessageService::queueAnswer(QMessageBox::Yes);
    user::click(ui.CancelButton);
    QVERIFY(!w.isVisible() && f.program->TForm6().isVisible());
    QVERIFY(f.rows("HARDWARE.DBF").isEmpty() && f.rows("SOFTWARE.DBF").isEmpty());
    // Shown again: no items, and Cancel asks nothing.
    f.open();
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
    user::click(ui.RoomEdit);
    user::escape();
    QVERIFY(!w.isVisible());
    QCOMPARE(MessageService::takeShown().size(), 1);
}

// Another administrator stores the shown ID first: Save takes the next free one, says which,
// shows it, and the items entered here are stored under it. A second Save makes no second
// system; shown again, the window offers the next number.
void TestAddSystem::systemIdShownAndTakenBeforeSave() {
    Fixture f("Q-");
    f.system("Q-0041");
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QCOMPARE(w.systemId(), QString("Q-0042"));
    user::fill(ui.HWDescriptionEdit, "Disk");
    user::click(ui.HWAddButton);
    f.system("Q-0042", {{"COMPANY", "Other"}});
    f.item("HARDWARE.DBF", "Q-0042", "Theirs");
    user::fill(ui.IP1, "10");
    user::click(ui.SaveButton);
    QString text = shown();
    QVERIFY2(text.contains("Q-0042 was taken by another administrator") &&
                 text.contains("saved as Q-0043"),
             qPrintable(text));
    QCOMPARE(ui.Label16->text(), QString("Q-0043"));
    QCOMPARE(test::entries(ui.DBGrid2, 1), QStringList{"Disk"});
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), (QStringList{"Q-0041", "Q-0042", "Q-0043"}));
    QCOMPARE(f.column("HARDWARE.DBF", "SYSID", "DESC"),
             (QStringList{"Q-0042 Theirs", "Q-0043 Disk"}));
    QCOMPARE(f.column("IP.DBF", "SYSID"), QStringList{"Q-0043"});
    user::fill(ui.IP4, "9");
    user::click(ui.SaveButton);
    QVERIFY(shown().contains("saved as Q-0043"));
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID").size(), 3);
    user::click(ui.CancelButton);
    f.open();
    QCOMPARE(w.systemId(), QString("Q-0044"));
}

void TestAddSystem::companyList() {
    Fixture f;
    for (const char* c : {"Zeta", "Acme", "Zeta"})
        f.system("QN000" + QString::number(f.rows("SYSTEMS.DBF").size()), {{"COMPANY", c}});
    AddSystemWindow& w = f.open();
    QComboBox* box = w.ui().CompanyName;
    QCOMPARE(test::entries(box), (QStringList{"Acme", "Zeta"}));
    // A company typed into the box is stored and listed once the window is shown again.
    user::click(w.ui().SecurityEdit);
    for (int i = 0; i < 20 && !box->hasFocus(); ++i)
        user::tab();
    user::type("New Co");
    user::enter();
    user::click(w.ui().CancelButton);
    f.open();
    QCOMPARE(test::entries(box), (QStringList{"Acme", "New Co", "Zeta"}));
}

void TestAddSystem::saveStoresEveryBox() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    user::click(ui.UserFirstEdit);
    for (const char* text : {"Pat", "O'Brien", "555-0199", "12", "HQ", "4.12", "high"}) {
        user::type(text);
        user::tab();
    }
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("pobrien");
    user::tab();
    user::type("192.168.1.");
    user::type("20"); // replaces the suggested number
    user::tab();
    user::type("pat");
    user::tab(3);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("PAT");
    user::tab();
    user::type("PRNT"); // the type list finds its entry by the typed letters
    QCOMPARE(ui.ComputerType->currentText(), QString("PRNT - Printer"));
    user::click(ui.SaveButton);
    QVERIFY(MessageService::takeShown().isEmpty() && w.isVisible());
    QCOMPARE(ui.UserLastEdit->text(), QString("O'Brien")); // boxes stay
    const test::Row ip = f.rows("IP.DBF").value(0);
    const test::Row sys = f.rows("SYSTEMS.DBF").value(0);
    QCOMPARE((QStringList{ip["SYSID"], ip["IPSTRING"], ip["IP3"], ip["TYPE"], ip["TYPEDESC"],
                          ip["ALIAS4"], ip["ALIAS2"]}),
             (QStringList{"QN0001", "192168120", "1", "PRNT", "Printer", "PAT", "o'brien"}));
    QCOMPARE(
        (QStringList{sys["USERLAST"], sys["PH_EXT"], sys["ROOM"], sys["SECURITY"], sys["COMPANY"]}),
        (QStringList{"O'Brien", "12", "4.12", "high", ""}));
    QVERIFY(!sys["DATE"].isEmpty());

    // A value too long for its field stores nothing; no type chosen stores empty type fields.
    user::click(ui.CancelButton);
    f.open();
    ui.ComputerType->setCurrentIndex(0);
    user::fill(ui.IP4, "21");
    user::fill(ui.LocationEdit, QString(200, 'x'));
    user::click(ui.SaveButton);
    QCOMPARE(MessageService::takeShown().value(0).kind, MessageService::Kind::Error);
    QCOMPARE(f.rows("IP.DBF").size(), 1);
    user::fill(ui.LocationEdit, "HQ");
    user::click(ui.SaveButton);
    const test::Row second = f.rows("IP.DBF").value(1);
    QVERIFY(second["TYPE"].isEmpty() && second["TYPEDESC"].isEmpty());
}

QN_GUI_TEST_MAIN(TestAddSystem)
#include "test_addsystem.moc"
