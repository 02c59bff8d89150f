// Recording a system as a user does: typing the address, names, items, and saving.
#include "addsystemwindow.h"
#include "datamodule.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "program.h"
#include "table.h"
#include "tablemodel.h"
#include "ui_addsystemwindow.h"
#include "ui_mainwindow.h"

#include <QComboBox>
#include <QTest>

using namespace qn;
namespace user = qn::test::user;
using test::Workspace;

namespace {

struct Fixture {
    explicit Fixture(const QByteArray& prefix = "ABC") {
        ws.writeSettings(test::settingsFile(ws.path("db"), "", prefix));
        program = std::make_unique<Program>(ws.engine());
        program->start();
        MessageService::takeShown();
    }
    AddSystemWindow& open() {
        user::menu(program->TForm6().ui().MainMenu1, {"Systems", "New", "Create"});
        AddSystemWindow& w = program->TForm18();
        QApplication::setActiveWindow(&w);
        return w;
    }
    DataModule& dm() { return program->TDataModule11(); }
    // Rows written straight into the tables, as earlier sessions would have left them.
    void addIp(const QString& id, const QStringList& octets) {
        dm().IPTableOpenClose("", "", false, true);
        Table& t = *dm().IPTable;
        t.append();
        t.setFieldText("SysID", id);
        for (int i = 0; i < 4; ++i)
            t.setFieldText(QString("IP%1").arg(i + 1), octets[i]);
        t.setFieldText("IPString", octets.join(""));
        t.post();
        dm().IPTableOpenClose("", "", false, false);
    }
    void addSystem(const QString& id, const QString& company = {}) {
        dm().SysTableOpenClose("", "", false, true);
        Table& t = *dm().SysTable;
        t.append();
        t.setFieldText("SysID", id);
        t.setFieldText("Company", company);
        t.post();
        dm().SysTableOpenClose("", "", false, false);
    }
    QStringList column(Table* t, const QString& field) {
        QStringList out;
        for (t->first(); !t->eof(); t->next())
            out << t->fieldText(field);
        return out;
    }
    Workspace ws;
    std::unique_ptr<Program> program;
};

} // namespace

class TestAddSystem : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void typedRoadWithItems();
    void octetRules();
    void pastedAddress();
    void freeAddressAndDuplicates();
    void heldItemsAndCancel();
    void systemIds_data();
    void systemIds();
    void systemIdWithShortPrefixAndTwoSaves();
    void systemIdTakenBeforeSave();
    void companyList();
    void saveStoresEveryBox();
};

namespace {

QStringList octets(Ui::AddSystemWindow& ui) {
    return {ui.IP1->text(), ui.IP2->text(), ui.IP3->text(), ui.IP4->text()};
}

// Rows of a table as another program sees them, "SysID Desc" each (just the ID without Desc).
QStringList storedItems(Engine& engine, const QString& file) {
    Table t(engine);
    t.setDatabaseName("IP");
    t.setTableName(file);
    t.open();
    QStringList out;
    for (t.first(); !t.eof(); t.next())
        out << (t.hasField("Desc") ? t.fieldText("SysID") + " " + t.fieldText("Desc")
                                   : t.fieldText("SysID"));
    return out;
}

} // namespace

// A new system typed from the keyboard: names, an address straight through (the suggested last
// octet replaced), hardware added with Enter on its button, software with a click, then Enter
// in a box saves.
void TestAddSystem::typedRoadWithItems() {
    Fixture f;
    f.addIp("ABC0000", {"10", "0", "0", "1"});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QVERIFY(!f.program->TForm6().isVisible());
    user::click(ui.UserFirstEdit);
    user::type("Ann");
    user::tab();
    user::type("Lee");
    user::tab(); // leaving the last name proposes the names
    QCOMPARE(ui.ComputerName->text(), QString("alee"));
    QCOMPARE(ui.Alias4->text(), QString("LEE"));
    user::tab(5); // phone, extension, location, room, security: to the computer name
    QVERIFY(ui.ComputerName->hasFocus());
    user::tab();
    user::type("10.0.0.5");
    QCOMPARE(octets(ui), (QStringList{"10", "0", "0", "5"}));
    // Typing over an address entered before replaces it box by box.
    user::click(ui.ComputerName);
    user::tab();
    user::type("10.0.0.7");
    QCOMPARE(octets(ui), (QStringList{"10", "0", "0", "7"}));
    user::tab(); // leaving box 4: the address is free
    QVERIFY(ui.Alias1->hasFocus());
    QVERIFY(MessageService::takeShown().isEmpty());

    user::click(ui.HWDescriptionEdit);
    user::type("Disk");
    user::tab();
    user::type("Acme");
    for (int i = 0; i < 10 && !ui.HWAddButton->hasFocus(); ++i)
        user::tab();
    QVERIFY(ui.HWAddButton->hasFocus());
    user::enter(); // presses the focused button, not Save
    QVERIFY(ui.HWDescriptionEdit->hasFocus());
    QVERIFY(ui.HWDescriptionEdit->text().isEmpty());
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 1);
    QCOMPARE(ui.DBGrid2->model()->index(0, 1).data().toString(), QString("Disk"));
    user::click(ui.SWDescriptionEdit);
    user::type("Editor");
    user::click(ui.SWLicenseEdit);
    user::type("KEY-1");
    user::click(ui.SWAddButton);
    QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
    // Nothing is stored before Save: another window sees neither system nor items.
    QCOMPARE(storedItems(f.ws.engine(), "HARDWARE.DBF"), QStringList{});
    QCOMPARE(storedItems(f.ws.engine(), "SYSTEMS.DBF"), QStringList{});

    user::click(ui.SWSerialEdit);
    user::enter(); // Save stays the default while a box has the focus
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(storedItems(f.ws.engine(), "SYSTEMS.DBF"), QStringList{"ABC0001"});
    QCOMPARE(storedItems(f.ws.engine(), "HARDWARE.DBF"), QStringList{"ABC0001 Disk"});
    QCOMPARE(storedItems(f.ws.engine(), "SOFTWARE.DBF"), QStringList{"ABC0001 Editor"});
    f.dm().IPTableOpenClose("IP", "", false, true);
    Table& ip = *f.dm().IPTable;
    ip.last();
    QCOMPARE((QStringList{ip.fieldText("IP1"), ip.fieldText("IP2"), ip.fieldText("IP3"),
                          ip.fieldText("IP4"), ip.fieldText("IPString"), ip.fieldText("Computer")}),
             (QStringList{"10", "0", "0", "7", "10007", "alee"}));
    f.dm().IPTableOpenClose("", "", false, false);
    // After Save an item is stored at once, and shown in the grid from the table.
    user::click(ui.HWDescriptionEdit);
    user::type("Mouse");
    user::click(ui.HWAddButton);
    QCOMPARE(storedItems(f.ws.engine(), "HARDWARE.DBF"),
             (QStringList{"ABC0001 Disk", "ABC0001 Mouse"}));
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
}

void TestAddSystem::octetRules() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    user::click(ui.IP1);
    user::type("192");
    QVERIFY(ui.IP2->hasFocus());
    user::type(".");
    QVERIFY(ui.IP2->text().isEmpty()); // a leading dot never stays
    user::type("10.");
    QCOMPARE(ui.IP2->text(), QString("10"));
    QVERIFY(ui.IP3->hasFocus());
    user::click(ui.IP1);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("300"); // boxes 1 to 3 make no range test
    QCOMPARE(ui.IP1->text(), QString("300"));
    QVERIFY(MessageService::takeShown().isEmpty());

    user::click(ui.IP4);
    user::type("300");
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("An IP Address CANNOT be over 255!"));
    QVERIFY(ui.IP4->text().isEmpty());
    QVERIFY(ui.IP4->hasFocus());
    user::type("12.");
    QVERIFY2(MessageService::takeShown().value(0).text.contains("not a number"), "12.");
    QVERIFY(ui.IP4->text().isEmpty());
    user::type("7.");
    QCOMPARE(ui.IP4->text(), QString("7.")); // a short trailing dot stays
    user::key(Qt::Key_Backspace);
    user::key(Qt::Key_Backspace);
    user::type("255");
    QVERIFY(ui.Alias1->hasFocus());
}

void TestAddSystem::pastedAddress() {
    Fixture f;
    f.addIp("ABC0000", {"10", "20", "30", "200"});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    user::click(ui.IP2);
    user::paste("10.20.30.7");
    QCOMPARE(octets(ui), (QStringList{"10", "20", "30", "7"}));
    QVERIFY(ui.IP4->hasFocus());
    QVERIFY(MessageService::takeShown().isEmpty());
    user::click(ui.IP3);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::paste("99"); // not an address: an ordinary paste
    QCOMPARE(ui.IP3->text(), QString("99"));
    user::click(ui.IP1);
    user::paste(" 10.20.30.300 ");
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("An IP Address CANNOT be over 255!"));
    QCOMPARE(octets(ui), (QStringList{"10", "20", "30", ""}));
    user::paste("10.20.30.200"); // a recorded address: refused when box 4 is left
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    QVERIFY(ui.IP4->hasFocus());
}

// The suggested last octet, and the refusal of a recorded address, with addresses that share a
// key (1.11.1.1 and 11.1.1.1 both give 11111) told apart.
void TestAddSystem::freeAddressAndDuplicates() {
    Fixture f;
    f.addIp("ABC0001", {"10", "0", "0", "1"});
    f.addIp("ABC0002", {"10", "0", "0", "2"});
    f.addIp("ABC0003", {"11", "1", "1", "1"});
    for (int n = 1; n <= 254; ++n)
        f.addIp("ABC0004", {"192", "168", "100", QString::number(n)});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    auto probe = [&](const QString& first3) {
        user::click(ui.ComputerName);
        user::tab();
        user::type(first3); // ends by leaving box 3
        return ui.IP4->text();
    };
    QCOMPARE(probe("10.0.0."), QString("3"));
    QVERIFY(ui.IP4->hasFocus());
    QCOMPARE(ui.IP4->selectedText(), QString("3")); // shown, and replaced by typing
    QCOMPARE(probe("11.1.1."), QString("2"));
    QCOMPARE(probe("1.11.1."), QString("1"));       // 1.11.1.1 is free though its key is taken
    QCOMPARE(probe("192.168.100"), QString("255")); // twelve digits; three move on
    QVERIFY(ui.Alias1->hasFocus());
    f.addIp("ABC0004", {"192", "168", "100", "255"});
    user::click(ui.IP4);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("x");
    const quint64 reloads = TableModel::reloads();
    Table::Counters before = Table::counters();
    QCOMPARE(probe("192.168.100"), QString("x")); // all taken: box 4 keeps its text
    QCOMPARE(TableModel::reloads(), reloads);     // the probe moves no grid
    // the check of box 4 as it is left, then one lookup per host number
    QCOMPARE(Table::counters().keyLookups - before.keyLookups, quint64(1 + 255));
    QVERIFY(Table::counters().rowsRead - before.rowsRead <= 300);
    QVERIFY(!f.dm().IPTable->isActive());
    QCOMPARE(f.dm().IPTable->masterFields(), QString("SysID"));

    QCOMPARE(probe("1.11.1."), QString("1"));
    user::tab(); // 1.11.1.1 is not 11.1.1.1
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(probe("11.1.1."), QString("2"));
    user::type("1");
    before = Table::counters();
    user::tab();
    QCOMPARE(Table::counters().keyLookups - before.keyLookups, quint64(1));
    QVERIFY(Table::counters().rowsRead - before.rowsRead <= 5);
    QCOMPARE(TableModel::reloads(), reloads);
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    QVERIFY(ui.IP4->hasFocus());
    QCOMPARE(ui.IP4->text(), QString("1"));
    user::enter(); // Save refuses the recorded address too
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    QCOMPARE(storedItems(f.ws.engine(), "SYSTEMS.DBF"), QStringList{});
}

// Items entered before Save are held by the window; Cancel asks before dropping them, and
// only Yes or No answers that question.
void TestAddSystem::heldItemsAndCancel() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    user::click(ui.HWDescriptionEdit);
    user::type("Disk");
    user::click(ui.HWAddButton);
    user::click(ui.SWAddButton);
    user::click(ui.RoomEdit);
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 1);
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
    QVERIFY(!w.isVisible());
    QVERIFY(f.program->TForm6().isVisible());
    QCOMPARE(storedItems(f.ws.engine(), "HARDWARE.DBF"), QStringList{});
    QCOMPARE(storedItems(f.ws.engine(), "SOFTWARE.DBF"), QStringList{});
    // Shown again: the boxes as they were, no items, and Cancel asks nothing.
    f.open();
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
    user::click(ui.RoomEdit);
    user::escape();
    QVERIFY(!w.isVisible());
    QCOMPARE(MessageService::takeShown().size(), 1);
}

// The free-host probe and the duplicate check are key lookups: the grids and boxes other
// windows bind to the IP table (hidden) read nothing.
void TestAddSystem::systemIds_data() {
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty table") << QStringList{} << "ABC0001";
    QTest::newRow("next number") << QStringList{"ABC0007", "ABC0099", "ABC0012"} << "ABC0100";
    QTest::newRow("other prefix continues") << QStringList{"XYZ0099"} << "ABC0100";
    QTest::newRow("past 9999") << QStringList{"ABC9999"} << "ABC10000";
    QTest::newRow("after 10000") << QStringList{"ABC9999", "ABC10000"} << "ABC10001";
    QTest::newRow("prefix sorting first") << QStringList{"ZZZ0050", "AAA0003"} << "ABC0051";
    QTest::newRow("prefixes of other lengths")
        << QStringList{"A0007", "ABCD0040", "AB0002", "ABC"} << "ABC0041";
    QTest::newRow("a gap below the greatest") << QStringList{"ABC0001", "ABC0009"} << "ABC0010";
    QTest::newRow("leading zeros beyond four digits")
        << QStringList{"ABC000000012", "ABC0011"} << "ABC0013";
    // Every four-digit ID from 9950 sorts between 10000 and the top: passed over by heads.
    QStringList many;
    for (int n = 9950; n <= 9999; ++n)
        many << QString("ABC%1").arg(n);
    many << "ABC10000"
         << "ABC10001"
         << "ABC10005"
         << "ABC100000";
    QTest::newRow("longest numbers few, shorter ones many") << many << "ABC100001";
    many.removeLast();
    QTest::newRow("many shorter above the five-digit ones") << many << "ABC10006";
}

void TestAddSystem::systemIds() {
    QFETCH(QStringList, stored);
    QFETCH(QString, expected);
    Fixture f;
    for (const QString& id : stored)
        f.addSystem(id);
    AddSystemWindow& w = f.open();
    QCOMPARE(w.systemId(), expected);
    QCOMPARE(w.ui().Label16->text(), expected);
    QVERIFY(!f.dm().SysTable->isActive());
}

void TestAddSystem::systemIdWithShortPrefixAndTwoSaves() {
    Fixture f("Q-");
    f.addSystem("Q-0041");
    AddSystemWindow& w = f.open();
    QCOMPARE(w.systemId(), QString("Q-0042"));
    user::click(w.ui().IP1);
    user::type("10");
    user::enter();
    QVERIFY(MessageService::takeShown().isEmpty());
    // A second Save in the same showing does not make a second system.
    user::click(w.ui().IP4);
    user::type("9");
    user::enter();
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("Q-0042"), qPrintable(shown[0].text));
    QCOMPARE(f.column(
                 [&] {
                     f.dm().SysTableOpenClose("", "", false, true);
                     return f.dm().SysTable;
                 }(),
                 "SysID"),
             (QStringList{"Q-0041", "Q-0042"}));
    f.dm().SysTableOpenClose("", "", false, false);
    // Shown again, the window offers the next number.
    user::click(w.ui().CancelButton);
    f.open();
    QCOMPARE(w.systemId(), QString("Q-0043"));
}

// Another administrator stores the shown ID first: Save takes the next free one, says which,
// shows it, and the items entered in this window are stored under it.
void TestAddSystem::systemIdTakenBeforeSave() {
    Fixture f("Q-");
    f.addSystem("Q-0041");
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QCOMPARE(w.systemId(), QString("Q-0042"));
    user::click(ui.HWDescriptionEdit);
    user::type("Disk");
    user::click(ui.HWAddButton);
    f.addSystem("Q-0042", "Other");
    {
        Table hw(f.ws.engine());
        hw.setDatabaseName("IP");
        hw.setTableName("HARDWARE.DBF");
        hw.open();
        hw.append();
        hw.setFieldText("SysID", "Q-0042");
        hw.setFieldText("Desc", "Theirs");
        hw.post();
    }
    user::click(ui.IP1);
    user::type("10");
    user::click(ui.SaveButton);
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("Q-0042 was taken by another administrator") &&
                 shown[0].text.contains("saved as Q-0043"),
             qPrintable(shown[0].text));
    QCOMPARE(w.systemId(), QString("Q-0043"));
    QCOMPARE(ui.Label16->text(), QString("Q-0043"));
    f.dm().SysTableOpenClose("", "", false, true);
    QCOMPARE(f.column(f.dm().SysTable, "SysID"), (QStringList{"Q-0041", "Q-0042", "Q-0043"}));
    f.dm().SysTableOpenClose("", "", false, false);
    QCOMPARE(f.column(f.dm().HWTable, "Desc"), QStringList{"Disk"}); // the window's grid
    Table hw(f.ws.engine());
    hw.setDatabaseName("IP");
    hw.setTableName("HARDWARE.DBF");
    hw.open();
    QStringList items;
    for (hw.first(); !hw.eof(); hw.next())
        items << hw.fieldText("SysID") + " " + hw.fieldText("Desc");
    QCOMPARE(items, (QStringList{"Q-0042 Theirs", "Q-0043 Disk"}));
    Table ip(f.ws.engine());
    ip.setDatabaseName("IP");
    ip.setTableName("IP.DBF");
    ip.open();
    QCOMPARE(f.column(&ip, "SysID"), QStringList{"Q-0043"});
    // A second Save names the ID the system got.
    user::click(ui.SaveButton);
    shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("saved as Q-0043"), qPrintable(shown[0].text));
}

void TestAddSystem::companyList() {
    Fixture f;
    f.addSystem("ABC0001", "Zeta");
    f.addSystem("ABC0002", "Acme");
    f.addSystem("ABC0003", "Zeta");
    AddSystemWindow& w = f.open();
    QComboBox* box = w.ui().CompanyName;
    auto items = [&] {
        QStringList l;
        for (int i = 0; i < box->count(); ++i)
            l << box->itemText(i);
        return l;
    };
    QCOMPARE(items(), (QStringList{"Acme", "Zeta"}));
    user::click(w.ui().CancelButton);
    f.open();
    QCOMPARE(items(), (QStringList{"Acme", "Zeta"}));

    // A company typed into the box is stored.
    user::click(w.ui().SecurityEdit);
    for (int i = 0; i < 20 && !box->hasFocus(); ++i)
        user::tab();
    user::type("New Co");
    user::enter();
    user::click(w.ui().CancelButton);
    f.open();
    QCOMPARE(items(), (QStringList{"Acme", "New Co", "Zeta"}));
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
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QTest::mouseClick(ui.SaveButton, Qt::LeftButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(w.isVisible());
    QCOMPARE(ui.UserLastEdit->text(), QString("O'Brien")); // boxes stay

    DataModule& dm = f.dm();
    dm.IPTableOpenClose("", "", false, true);
    Table& ip = *dm.IPTable;
    QCOMPARE(ip.recordCount(), 1);
    QCOMPARE(ip.fieldText("SysID"), QString("ABC0001"));
    QCOMPARE(ip.fieldText("IPString"), QString("192168120"));
    QCOMPARE(ip.fieldText("IP3"), QString("1"));
    QCOMPARE(ip.fieldText("Type"), QString("PRNT"));
    QCOMPARE(ip.fieldText("TypeDesc"), QString("Printer"));
    QCOMPARE(ip.fieldText("Alias4"), QString("PAT"));
    QCOMPARE(ip.fieldText("Alias2"), QString("o'brien")); // suggested from the last name
    dm.IPTableOpenClose("", "", false, false);
    dm.SysTableOpenClose("", "", false, true);
    Table& sys = *dm.SysTable;
    QCOMPARE(sys.fieldText("UserLast"), QString("O'Brien"));
    QCOMPARE(sys.fieldText("PH_EXT"), QString("12"));
    QCOMPARE(sys.fieldText("Room"), QString("4.12"));
    QCOMPARE(sys.fieldText("Security"), QString("high"));
    QVERIFY(sys.fieldText("Company").isEmpty());
    QVERIFY(!sys.fieldText("Date").isEmpty());
    QVERIFY(before.isValid());
    dm.SysTableOpenClose("", "", false, false);

    // No type chosen: both type fields empty. A value too long for its field stores nothing.
    user::click(w.ui().CancelButton);
    f.open();
    ui.ComputerType->setCurrentIndex(0);
    user::click(ui.IP4);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("21");
    user::click(ui.LocationEdit);
    user::type(QString(200, 'x'));
    user::click(ui.SaveButton);
    QCOMPARE(MessageService::takeShown().value(0).kind, MessageService::Kind::Error);
    dm.IPTableOpenClose("", "", false, true);
    QCOMPARE(dm.IPTable->recordCount(), 1);
    dm.IPTableOpenClose("", "", false, false);
    user::click(ui.LocationEdit);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("HQ");
    user::click(ui.SaveButton);
    dm.IPTableOpenClose("", "", false, true);
    dm.IPTable->last();
    QVERIFY(dm.IPTable->fieldText("Type").isEmpty());
    QVERIFY(dm.IPTable->fieldText("TypeDesc").isEmpty());
    dm.IPTableOpenClose("", "", false, false);
}

QN_GUI_TEST_MAIN(TestAddSystem)
#include "test_addsystem.moc"
