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
using test::typeAtFocus;
using test::Workspace;

namespace {

struct Fixture {
    explicit Fixture(const QByteArray& prefix = "ABC") {
        ws.writeSettings(test::settingsFile(ws.path("db"), "", prefix));
        program = std::make_unique<Program>(ws.engine());
        MessageService::takeShown();
    }
    AddSystemWindow& open() {
        program->TForm6().ui().Create2->trigger();
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
    void octetsAsTyped();
    void boxFourRules();
    void freeAddressProbe();
    void duplicateAddress();
    void probeAndCheckAreKeyLookups();
    void systemIds_data();
    void systemIds();
    void systemIdWithShortPrefixAndTwoSaves();
    void systemIdTakenBeforeSave();
    void nameSuggestion();
    void companyList();
    void saveStoresEveryBox();
    void items();
    void cancelReturnsAndKeepsBoxes();
};

void TestAddSystem::octetsAsTyped() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QCOMPARE(w.objectName(), QString("TForm18"));
    QVERIFY(!f.program->TForm6().isVisible());

    ui.IP1->setFocus();
    typeAtFocus("192");
    QCOMPARE(ui.IP1->text(), QString("192"));
    QVERIFY(ui.IP2->hasFocus());

    ui.IP1->clear();
    ui.IP2->clear();
    ui.IP1->setFocus();
    typeAtFocus("10.");
    QCOMPARE(ui.IP1->text(), QString("10"));
    QVERIFY(ui.IP2->hasFocus());
    typeAtFocus(".");
    QVERIFY(ui.IP2->text().isEmpty());
    QVERIFY(ui.IP2->hasFocus());

    // Straight through from box 1; the probe suggests 1 in box 4, typing replaces it.
    for (QLineEdit* b : {ui.IP1, ui.IP2, ui.IP3, ui.IP4})
        b->clear();
    ui.IP1->setFocus();
    typeAtFocus("10.0.0.");
    QVERIFY(ui.IP4->hasFocus());
    ui.IP4->selectAll();
    typeAtFocus("5");
    QCOMPARE((QStringList{ui.IP1->text(), ui.IP2->text(), ui.IP3->text(), ui.IP4->text()}),
             (QStringList{"10", "0", "0", "5"}));

    // Boxes 1 to 3 make no range test.
    ui.IP1->clear();
    ui.IP1->setFocus();
    typeAtFocus("300");
    QCOMPARE(ui.IP1->text(), QString("300"));
    QVERIFY(MessageService::takeShown().isEmpty());
}

void TestAddSystem::boxFourRules() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    ui.IP4->setFocus();
    typeAtFocus("300");
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("An IP Address CANNOT be over 255!"));
    QVERIFY(ui.IP4->text().isEmpty());
    QVERIFY(ui.IP4->hasFocus());
    typeAtFocus("255");
    QVERIFY(ui.Alias1->hasFocus());
    QCOMPARE(ui.IP4->text(), QString("255"));
    QVERIFY(MessageService::takeShown().isEmpty());
    ui.IP4->clear();
    ui.IP4->setFocus();
    typeAtFocus(".");
    QVERIFY(ui.IP4->text().isEmpty());
    typeAtFocus("12.");
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("not a number"), qPrintable(shown[0].text));
    QVERIFY(ui.IP4->text().isEmpty());
    typeAtFocus("7.");
    QCOMPARE(ui.IP4->text(), QString("7.")); // a short trailing dot stays
}

void TestAddSystem::freeAddressProbe() {
    Fixture f;
    f.addIp("ABC0001", {"10", "0", "0", "1"});
    f.addIp("ABC0002", {"10", "0", "0", "2"});
    for (int n = 1; n <= 254; ++n)
        f.addIp("ABC0003", {"192", "168", "100", QString::number(n)});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    auto probe = [&](const QString& a, const QString& b, const QString& c) {
        ui.IP1->setText(a);
        ui.IP2->setText(b);
        ui.IP3->setText(c);
        ui.IP4->setText("x");
        w.IP3Exit();
        return ui.IP4->text();
    };
    QCOMPARE(probe("10", "0", "0"), QString("3"));
    QCOMPARE(probe("10", "0", "1"), QString("1"));
    // Twelve-digit keys work, and a three-digit answer moves on to the aliases.
    ui.IP3->setFocus();
    QCOMPARE(probe("192", "168", "100"), QString("255"));
    QVERIFY(ui.Alias1->hasFocus());
    f.addIp("ABC0003", {"192", "168", "100", "255"});
    QCOMPARE(probe("192", "168", "100"), QString("x")); // all taken: the box keeps its text
    // Leading zeros are part of the key as typed.
    f.addIp("ABC0004", {"010", "0", "0", "1"});
    QCOMPARE(probe("010", "0", "0"), QString("2"));
    // An empty box 3 suggests nothing.
    ui.IP3->clear();
    ui.IP4->setText("9");
    w.IP3Exit();
    QCOMPARE(ui.IP4->text(), QString("9"));
    // The probe leaves the IP table closed and linked to the systems again.
    QVERIFY(!f.dm().IPTable->isActive());
    QCOMPARE(f.dm().IPTable->masterFields(), QString("SysID"));
}

void TestAddSystem::duplicateAddress() {
    Fixture f;
    f.addIp("ABC0001", {"11", "1", "1", "1"});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    ui.IP1->setText("1");
    ui.IP2->setText("11");
    ui.IP3->setText("1");
    ui.IP4->setText("1");
    ui.IP4->setFocus();
    ui.Alias2->setFocus(); // leaving box 4
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    QVERIFY(ui.IP4->hasFocus());
    QCOMPARE(ui.IP4->text(), QString("1"));

    // Enter on Save with the recorded address stores nothing.
    QTest::keyClick(ui.IP4, Qt::Key_Return);
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    f.dm().SysTableOpenClose("", "", false, true);
    QVERIFY(f.dm().SysTable->isEmpty());
    f.dm().SysTableOpenClose("", "", false, false);
    f.dm().IPTableOpenClose("", "", false, true);
    QCOMPARE(f.dm().IPTable->recordCount(), 1);
    f.dm().IPTableOpenClose("", "", false, false);

    // Leaving box 4 empty still checks the key of boxes 1 to 3.
    ui.IP1->setText("11");
    ui.IP2->setText("1");
    ui.IP3->setText("11");
    ui.IP4->clear();
    w.IP4Exit();
    QCOMPARE(MessageService::takeShown().size(), 1);
}

// The free-host probe and the duplicate check are key lookups: the grids and boxes other
// windows bind to the IP table (hidden) read nothing.
void TestAddSystem::probeAndCheckAreKeyLookups() {
    Fixture f;
    for (int n = 1; n <= 255; ++n)
        f.addIp(QString("ABC%1").arg(n, 4, 10, QChar(u'0')), {"10", "5", "7", QString::number(n)});
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    ui.IP1->setFocus();
    typeAtFocus("10.5.7");
    ui.IP4->setText("x");
    const quint64 reloads = TableModel::reloads();
    Table::Counters before = Table::counters();
    QTest::keyClick(ui.IP3, Qt::Key_Tab);
    QCOMPARE(ui.IP4->text(), QString("x")); // all 255 taken
    QCOMPARE(TableModel::reloads(), reloads);
    QCOMPARE(Table::counters().keyLookups - before.keyLookups, quint64(255));
    QVERIFY(Table::counters().rowsRead - before.rowsRead <= 300);

    ui.IP4->clear();
    ui.IP4->setFocus();
    typeAtFocus("9");
    before = Table::counters();
    QTest::keyClick(ui.IP4, Qt::Key_Tab);
    QCOMPARE(MessageService::takeShown().size(), 1); // taken
    QCOMPARE(TableModel::reloads(), reloads);
    QCOMPARE(Table::counters().keyLookups - before.keyLookups, quint64(1));
    QVERIFY(Table::counters().rowsRead - before.rowsRead <= 5);
}

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
    w.ui().IP1->setText("10");
    w.SaveButtonClick();
    QVERIFY(MessageService::takeShown().isEmpty());
    // A second Save in the same showing does not make a second system.
    w.ui().IP4->setText("9");
    w.SaveButtonClick();
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
    w.hide();
    f.open();
    QCOMPARE(w.systemId(), QString("Q-0043"));
}

// Another administrator stores the shown ID first: Save takes the next free one, says which,
// shows it, and the items added in this window follow it while the other system's stay.
void TestAddSystem::systemIdTakenBeforeSave() {
    Fixture f("Q-");
    f.addSystem("Q-0041");
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QCOMPARE(w.systemId(), QString("Q-0042"));
    ui.HWDescriptionEdit->setText("Disk");
    QTest::mouseClick(ui.HWAddButton, Qt::LeftButton);
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
    ui.IP1->setText("10");
    w.SaveButtonClick();
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
    QCOMPARE(items, (QStringList{"Q-0043 Disk", "Q-0042 Theirs"}));
    Table ip(f.ws.engine());
    ip.setDatabaseName("IP");
    ip.setTableName("IP.DBF");
    ip.open();
    QCOMPARE(f.column(&ip, "SysID"), QStringList{"Q-0043"});
    // A second Save names the ID the system got.
    w.SaveButtonClick();
    shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("saved as Q-0043"), qPrintable(shown[0].text));
}

void TestAddSystem::nameSuggestion() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    auto suggest = [&](const QString& first, const QString& last) {
        ui.UserFirstEdit->setText(first);
        ui.UserLastEdit->setText(last);
        ui.UserLastEdit->setFocus();
        ui.UserPhoneEdit->setFocus(); // leaving the last-name box
        return QStringList{ui.ComputerName->text(), ui.Alias1->text(), ui.Alias2->text(),
                           ui.Alias3->text(), ui.Alias4->text()};
    };
    QCOMPARE(suggest("Ann", "Lee"), (QStringList{"alee", "alee", "lee", "ALEE", "LEE"}));
    QCOMPARE(suggest("", "Lee"), (QStringList{"lee", "lee", "lee", "LEE", "LEE"}));
    QCOMPARE(suggest(QString::fromUtf8("Émile"), QString::fromUtf8("Zoë-Brandt")),
             (QStringList{QString::fromUtf8("Ézoë-brandt"), QString::fromUtf8("Ézoë-brandt"),
                          QString::fromUtf8("zoë-brandt"), QString::fromUtf8("ÉZOë-BRANDT"),
                          QString::fromUtf8("ZOë-BRANDT")}));
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
    w.hide();
    f.open();
    QCOMPARE(items(), (QStringList{"Acme", "Zeta"}));

    // A company typed into the box is stored.
    box->setEditText("New Co");
    w.SaveButtonClick();
    w.hide();
    f.open();
    QCOMPARE(items(), (QStringList{"Acme", "New Co", "Zeta"}));
}

void TestAddSystem::saveStoresEveryBox() {
    Fixture f;
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    ui.UserFirstEdit->setText("Pat");
    ui.UserLastEdit->setText("O'Brien");
    ui.UserPhoneEdit->setText("555-0199");
    ui.UserExtEdit->setText("12");
    ui.LocationEdit->setText("HQ");
    ui.RoomEdit->setText("4.12");
    ui.SecurityEdit->setText("high");
    ui.ComputerName->setText("pobrien");
    ui.IP1->setText("192");
    ui.IP2->setText("168");
    ui.IP3->setText("1");
    ui.IP4->setFocus(); // leaving box 3 suggests a number; typing replaces it
    ui.IP4->setText("20");
    ui.Alias1->setText("pat");
    ui.Alias4->setText("PAT");
    ui.ComputerType->setCurrentText("PRNT - Printer");
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
    QVERIFY(ip.fieldText("Alias2").isEmpty());
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
    w.hide();
    f.open();
    ui.ComputerType->setCurrentIndex(0);
    ui.IP4->setText("21");
    ui.LocationEdit->setText(QString(200, 'x'));
    QTest::mouseClick(ui.SaveButton, Qt::LeftButton);
    QCOMPARE(MessageService::takeShown().value(0).kind, MessageService::Kind::Error);
    dm.IPTableOpenClose("", "", false, true);
    QCOMPARE(dm.IPTable->recordCount(), 1);
    dm.IPTableOpenClose("", "", false, false);
    ui.LocationEdit->setText("HQ");
    QTest::mouseClick(ui.SaveButton, Qt::LeftButton);
    dm.IPTableOpenClose("", "", false, true);
    dm.IPTable->last();
    QVERIFY(dm.IPTable->fieldText("Type").isEmpty());
    QVERIFY(dm.IPTable->fieldText("TypeDesc").isEmpty());
    dm.IPTableOpenClose("", "", false, false);
}

void TestAddSystem::items() {
    Fixture f;
    f.addSystem("ABC0001");
    AddSystemWindow& w = f.open();
    auto& ui = w.ui();
    QCOMPARE(w.systemId(), QString("ABC0002"));
    // Another system's item is not listed.
    DataModule& dm = f.dm();
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);

    QTest::mouseClick(ui.HWAddButton, Qt::LeftButton); // all boxes empty
    ui.HWDescriptionEdit->setText("Disk");
    ui.HWManufacturerEdit->setText("Acme");
    ui.HWModelEdit->setText("D-1");
    ui.HWSerialEdit->setText("S1");
    QTest::mouseClick(ui.HWAddButton, Qt::LeftButton);
    QVERIFY(ui.HWDescriptionEdit->text().isEmpty());
    QVERIFY(ui.HWSerialEdit->text().isEmpty());
    QVERIFY(ui.HWDescriptionEdit->hasFocus());
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
    QCOMPARE(f.column(dm.HWTable, "Desc"), (QStringList{"", "Disk"}));
    QCOMPARE(f.column(dm.HWTable, "SysID"), (QStringList{"ABC0002", "ABC0002"}));
    QCOMPARE(f.column(dm.HWTable, "Model"), (QStringList{"", "D-1"}));

    ui.SWDescriptionEdit->setText("Editor");
    ui.SWLicenseEdit->setText("KEY-1");
    QTest::mouseClick(ui.SWAddButton, Qt::LeftButton);
    QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
    QCOMPARE(f.column(dm.SWTable, "LicenseKey"), QStringList{"KEY-1"});

    // Delete removes the selected item after asking.
    ui.DBGrid2->selectRow(1);
    MessageService::queueAnswer(QMessageBox::No);
    QTest::mouseClick(ui.HWDeleteButton, Qt::LeftButton);
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
    QTest::mouseClick(ui.HWDeleteButton, Qt::LeftButton);
    QCOMPARE(MessageService::takeShown().size(), 2);
    QCOMPARE(f.column(dm.HWTable, "Desc"), QStringList{""});
    QTest::mouseClick(ui.SWDeleteButton, Qt::LeftButton);
    QCOMPARE(ui.DBGrid1->model()->rowCount(), 0);
    QTest::mouseClick(ui.SWDeleteButton, Qt::LeftButton); // empty grid: nothing asked
    QCOMPARE(MessageService::takeShown().size(), 1);
}

void TestAddSystem::cancelReturnsAndKeepsBoxes() {
    Fixture f;
    AddSystemWindow& w = f.open();
    w.ui().RoomEdit->setText("7");
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!w.isVisible());
    QVERIFY(f.program->TForm6().isVisible());
    f.dm().SysTableOpenClose("", "", false, true);
    QVERIFY(f.dm().SysTable->isEmpty());
    f.dm().SysTableOpenClose("", "", false, false);
    f.open();
    QCOMPARE(w.ui().RoomEdit->text(), QString("7"));
}

QN_GUI_TEST_MAIN(TestAddSystem)
#include "test_addsystem.moc"
