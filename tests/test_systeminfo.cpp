// Viewing and editing one system over the tables a search leaves prepared, and its items.
#include "datamodule.h"
#include "engine.h"
#include "filelock.h"
#include "guiutil.h"
#include "itementrywindow.h"
#include "mainwindow.h"
#include "program.h"
#include "systeminfowindow.h"
#include "table.h"
#include "tablemodel.h"
#include "ui_itementrywindow.h"
#include "ui_systeminfowindow.h"

#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <fcntl.h>
#include <unistd.h>

using namespace qn;
using test::Workspace;

namespace {

struct Fixture {
    Fixture() {
        ws.writeSettings(test::settingsFile(ws.path("db"), ""));
        program = std::make_unique<Program>(ws.engine());
        MessageService::takeShown();
        addSystem("QN0001", "Pat", "Lee", "101");
        addSystem("QN0002", "Pat", "Lee", "202");
        addSystem("QN0003", "Kim", "Ode", "303");
        addIp("QN0001", "plee", {"10", "0", "0", "1"}, "UNIX");
        addIp("QN0002", "plee2", {"10", "0", "0", "2"}, "WIND");
        addIp("QN0003", "kode", {"10", "0", "0", "3"}, "LINX");
        addItem(dm().HWTable, "QN0001", "Disk", "Model", "D-1");
        addItem(dm().HWTable, "QN0001", "Mouse", "Model", "M-2");
        addItem(dm().HWTable, "QN0003", "Printer", "Model", "P-3");
        addItem(dm().SWTable, "QN0001", "Editor", "LicenseKey", "KEY-1");
    }
    DataModule& dm() { return program->TDataModule11(); }
    SystemInfoWindow& info() { return program->TForm10(); }
    void addSystem(const QString& id, const QString& first, const QString& last,
                   const QString& room) {
        dm().SysTableOpenClose("", "", false, true);
        Table& t = *dm().SysTable;
        t.append();
        t.setFieldText("SysID", id);
        t.setFieldText("UserFirst", first);
        t.setFieldText("UserLast", last);
        t.setFieldText("Room", room);
        t.post();
        dm().SysTableOpenClose("", "", false, false);
    }
    void addIp(const QString& id, const QString& name, const QStringList& o, const QString& type) {
        dm().IPTableOpenClose("", "", false, true);
        Table& t = *dm().IPTable;
        t.append();
        t.setFieldText("SysID", id);
        t.setFieldText("Computer", name);
        for (int i = 0; i < 4; ++i)
            t.setFieldText(QString("IP%1").arg(i + 1), o[i]);
        t.setFieldText("IPString", o.join(""));
        t.setFieldText("Type", type);
        t.setFieldText("TypeDesc", "old description");
        t.post();
        dm().IPTableOpenClose("", "", false, false);
    }
    void addItem(Table* t, const QString& id, const QString& desc, const QString& field,
                 const QString& value) {
        t->setTableName(t->tableName());
        t->setIndexName("");
        t->setFilter("");
        t->setFiltered(false);
        t->open();
        t->append();
        t->setFieldText("SysID", id);
        t->setFieldText("Desc", desc);
        t->setFieldText(field, value);
        t->setFieldText("Manuf", "Acme");
        t->setFieldText("Category", "Storage");
        t->post();
        t->close();
    }
    // What a finding window leaves before it shows System Info.
    void handOver(const QString& filter) {
        dm().SysTableOpenClose("SysID", filter, true, true);
        dm().IPTableOpenClose("SysID", "", false, true);
        dm().HWTableOpenClose("SysID", "", false, true);
        dm().SWTableOpenClose("SysID", "", false, true);
        info().show();
        QApplication::setActiveWindow(&info());
    }
    // A stored value, read through a private table object.
    QString stored(const QString& file, const QString& id, const QString& field) {
        Table t(ws.engine());
        t.setDatabaseName("IP");
        t.setTableName(file);
        t.open();
        for (t.first(); !t.eof(); t.next())
            if (t.fieldText("SysID") == id)
                return t.fieldText(field);
        return "<none>";
    }
    int poolRows() {
        dm().ResourceTableOpenClose("", "", false, true);
        int n = dm().ResourceTable->recordCount();
        dm().ResourceTableOpenClose("", "", false, false);
        return n;
    }
    Workspace ws;
    std::unique_ptr<Program> program;
};

namespace user = test::user;

// Clicks into a box and types over what it holds.
void type(QLineEdit* box, const QString& text) {
    user::click(box);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type(text);
}

} // namespace

class TestSystemInfo : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void showsThePreparedSystem();
    void updateStoresEdits();
    void cancelDropsEditsAndClosesTables();
    void updateFollowsTheAddress();
    void deleteItemsIntoThePool();
    void navigatorPostsPendingEdits();
    void entryForms();
    void systemEditedElsewhereIsReadOnly();
};

void TestSystemInfo::showsThePreparedSystem() {
    Fixture f;
    f.handOver(DataModule::oneSystemFilter("QN0001"));
    auto& ui = f.info().ui();
    QCOMPARE(f.info().objectName(), QString("TForm10"));
    QCOMPARE(ui.DBText1->text(), QString("QN0001"));
    QCOMPARE(ui.UserFirstEdit->text(), QString("Pat"));
    QCOMPARE(ui.RoomEdit->text(), QString("101"));
    QCOMPARE(ui.ComputerName->text(), QString("plee"));
    QCOMPARE(ui.IP4->text(), QString("1"));
    QCOMPARE(ui.MachineType->text(), QString("UNIX"));
    QCOMPARE(ui.DBGrid2->tableModel()->columns(),
             (QStringList{"SYSID", "MANUF", "DESC", "SERIALNUM", "MODEL"}));
    QCOMPARE(ui.DBGrid1->tableModel()->columns(),
             (QStringList{"SYSID", "MANUF", "DESC", "SERIALNUM", "LICENSEKEY"}));
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
    QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
    QCOMPARE(ui.DBGrid2->model()->index(1, 2).data().toString(), QString("Mouse"));
    // Boxes take no more than their field holds.
    QCOMPARE(ui.IP4->maxLength(), 3);
}

void TestSystemInfo::updateStoresEdits() {
    Fixture f;
    f.handOver(DataModule::oneSystemFilter("QN0001"));
    auto& ui = f.info().ui();
    type(ui.RoomEdit, "B-12");
    type(ui.ComputerAlias2, "www");
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "Room"), QString("101"));
    user::enter(); // Update is the default button
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Record Updated Successfully!"));
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "Room"), QString("B-12"));
    QCOMPARE(f.stored("IP.DBF", "QN0001", "Alias2"), QString("www"));
    QCOMPARE(f.stored("IP.DBF", "QN0001", "IPString"), QString("10001"));
    QCOMPARE(f.stored("IP.DBF", "QN0001", "TypeDesc"), QString("Other UNIX"));
    // Update with nothing changed still reports success.
    user::click(ui.UpdateButton);
    QCOMPARE(MessageService::takeShown().size(), 1);
}

void TestSystemInfo::cancelDropsEditsAndClosesTables() {
    Fixture f;
    f.program->TForm6().hide();
    f.handOver(DataModule::oneSystemFilter("QN0001"));
    type(f.info().ui().RoomEdit, "999");
    user::click(f.info().ui().CancelButton);
    QVERIFY(!f.info().isVisible());
    QVERIFY(f.program->TForm6().isVisible());
    for (Table* t :
         {f.dm().SysTable, f.dm().IPTable, f.dm().HWTable, f.dm().SWTable, f.dm().DummyTable}) {
        QVERIFY(!t->isActive());
        QVERIFY(t->indexName().isEmpty());
        QVERIFY(t->filter().isEmpty());
        QVERIFY(!t->filtered());
    }
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "Room"), QString("101"));
}

void TestSystemInfo::updateFollowsTheAddress() {
    Fixture f;
    f.handOver(DataModule::oneSystemFilter("QN0003"));
    auto& ui = f.info().ui();
    type(ui.IP4, "77");
    type(ui.MachineType, "PRNT");
    user::click(ui.UpdateButton);
    QCOMPARE(f.stored("IP.DBF", "QN0003", "IP4"), QString("77"));
    QCOMPARE(f.stored("IP.DBF", "QN0003", "IPString"), QString("100077"));
    QCOMPARE(f.stored("IP.DBF", "QN0003", "TypeDesc"), QString("Printer"));
    MessageService::takeShown();

    // Another system's address is refused and nothing is stored.
    type(ui.IP4, "2");
    type(ui.RoomEdit, "changed");
    user::click(ui.UpdateButton);
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("IP Address already exists! Please choose another"));
    QCOMPARE(f.stored("IP.DBF", "QN0003", "IP4"), QString("77"));
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0003", "Room"), QString("303"));
    QVERIFY(ui.IP4->hasFocus());
    // An unknown type code keeps the stored description.
    type(ui.IP4, "78");
    type(ui.MachineType, "ZZZZ");
    user::click(ui.UpdateButton);
    QCOMPARE(f.stored("IP.DBF", "QN0003", "TypeDesc"), QString("Printer"));
    QCOMPARE(f.stored("IP.DBF", "QN0003", "Type"), QString("ZZZZ"));
}

void TestSystemInfo::deleteItemsIntoThePool() {
    Fixture f;
    f.handOver(DataModule::oneSystemFilter("QN0001"));
    auto& ui = f.info().ui();
    user::clickCell(ui.DBGrid2, 1); // Mouse
    // Both answers remove the item: Escape and closing the box answer nothing.
    user::withBoxes([&] { user::click(ui.HDeleteButton); }, {[](QMessageBox* box) {
                        QCOMPARE(box->windowTitle(), QString("Alert!"));
                        QCOMPARE(box->text(), QString("Add Hardware back into Resources?"));
                        QTest::keyClick(box, Qt::Key_Escape);
                        box->close();
                        QVERIFY(box->isVisible());
                        user::clickButton(box, "No");
                    }});
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 1);
    QCOMPARE(f.poolRows(), 0);

    MessageService::queueAnswer(QMessageBox::Yes);
    user::click(ui.HDeleteButton);
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
    QCOMPARE(f.poolRows(), 1);
    f.dm().ResourceTableOpenClose("", "", false, true);
    Table& pool = *f.dm().ResourceTable;
    QCOMPARE(pool.fieldText("MAIN"), QString("HARDWARE"));
    QCOMPARE(pool.fieldText("ITEM"), QString("Disk"));
    QCOMPARE(pool.fieldText("MDL_LIC"), QString("D-1"));
    QCOMPARE(pool.fieldText("MANUF"), QString("Acme"));
    QCOMPARE(pool.fieldText("CATEGORY"), QString("Storage"));
    f.dm().ResourceTableOpenClose("", "", false, false);

    // An empty grid: nothing asked, no empty pool row.
    user::click(ui.HDeleteButton);
    QVERIFY(MessageService::takeShown().size() == 1); // only the Yes question above
    QCOMPARE(f.poolRows(), 1);

    MessageService::queueAnswer(QMessageBox::Yes);
    user::click(ui.SDeleteButton);
    QCOMPARE(MessageService::takeShown().value(0).text,
             QString("Add Software back into Resources?"));
    f.dm().ResourceTableOpenClose("", "", false, true);
    f.dm().ResourceTable->last();
    QCOMPARE(f.dm().ResourceTable->fieldText("MAIN"), QString("SOFTWARE"));
    QCOMPARE(f.dm().ResourceTable->fieldText("MDL_LIC"), QString("KEY-1"));
    f.dm().ResourceTableOpenClose("", "", false, false);
    // Another system's items are untouched.
    QCOMPARE(f.stored("HARDWARE.DBF", "QN0003", "Desc"), QString("Printer"));
}

void TestSystemInfo::navigatorPostsPendingEdits() {
    Fixture f;
    f.handOver(DataModule::userNameFilter("Pat", "Lee"));
    auto& ui = f.info().ui();
    QToolButton* next = ui.DBNavigator1->nextButton();
    QToolButton* prior = ui.DBNavigator1->priorButton();
    QCOMPARE(ui.DBText1->text(), QString("QN0001"));
    type(ui.RoomEdit, "first");
    user::click(next);
    QCOMPARE(ui.DBText1->text(), QString("QN0002"));
    QCOMPARE(ui.RoomEdit->text(), QString("202"));
    QCOMPARE(ui.ComputerName->text(), QString("plee2"));
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 0);
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0001", "Room"), QString("first"));
    user::click(next); // the filter holds only Pat Lee's two
    QCOMPARE(ui.DBText1->text(), QString("QN0002"));
    type(ui.RoomEdit, "second");
    user::click(prior);
    QCOMPARE(ui.DBText1->text(), QString("QN0001"));
    QCOMPARE(ui.RoomEdit->text(), QString("first"));
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 2);
    QCOMPARE(f.stored("SYSTEMS.DBF", "QN0002", "Room"), QString("second"));
    QVERIFY(MessageService::takeShown().isEmpty());
}

void TestSystemInfo::entryForms() {
    Fixture f;
    f.handOver(DataModule::oneSystemFilter("QN0003"));
    auto& ui = f.info().ui();
    ItemEntryWindow& hw = f.program->TForm8();
    QCOMPARE(hw.objectName(), QString("TForm8"));
    user::click(ui.HAddButton);
    QVERIFY(hw.isVisible());
    QApplication::setActiveWindow(&hw);
    QVERIFY(hw.ui().Description->hasFocus());
    QVERIFY(f.info().isVisible());
    QCOMPARE(hw.ui().SystemID->text(), QString("QN0003"));
    QVERIFY(!hw.ui().SystemID->isEnabled());
    user::type("Scanner");
    user::tab(2);
    user::type("SC-9");
    user::enter(); // Save is the default
    QVERIFY(hw.ui().Description->hasFocus());
    QVERIFY(hw.ui().Description->text().isEmpty());
    QCOMPARE(hw.ui().SystemID->text(), QString("QN0003"));
    user::click(hw.ui().SaveButton); // a second, empty item
    QCOMPARE(ui.DBGrid2->model()->rowCount(), 3);
    QCOMPARE(ui.DBGrid2->model()->index(1, 4).data().toString(), QString("SC-9"));
    type(hw.ui().Manufacturer, "x");
    user::click(hw.ui().NewButton);
    QVERIFY(hw.ui().Manufacturer->text().isEmpty());
    QCOMPARE(hw.ui().SystemID->text(), QString("QN0003"));
    user::escape();
    QVERIFY(!hw.isVisible());
    QVERIFY(f.info().isVisible());

    ItemEntryWindow& sw = f.program->TForm9();
    QCOMPARE(sw.objectName(), QString("TForm9"));
    QCOMPARE(sw.windowTitle(), QString("Software Entry Form"));
    user::click(ui.SAddButton);
    QVERIFY(sw.findChild<QLineEdit*>("LicenseKey"));
    QApplication::setActiveWindow(&sw);
    user::type("Compiler");
    user::tab(2);
    user::type("LIC-7");
    user::enter();
    QCOMPARE(ui.DBGrid1->model()->rowCount(), 1);
    QCOMPARE(ui.DBGrid1->model()->index(0, 4).data().toString(), QString("LIC-7"));
    QCOMPARE(f.stored("SOFTWARE.DBF", "QN0003", "Desc"), QString("Compiler"));
}

namespace {

// Another administrator editing a systems row: the row's lock held by another open file.
struct OtherEditor {
    OtherEditor(const QString& folder, uint32_t recno) {
        const QString path = findFileIgnoringCase(folder, "Systems.dbf");
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = lockpos::record(recno);
        fl.l_len = 1;
        locked = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
    }
    ~OtherEditor() { done(); }
    void done() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fd = -1;
    bool locked = false;
};

} // namespace

void TestSystemInfo::systemEditedElsewhereIsReadOnly() {
    Fixture f;
    auto& ui = f.info().ui();
    auto readOnlySaying = [&](const QString& id) {
        return f.info().readOnly() && f.info().busyLabel()->isVisible() &&
               f.info().busyLabel()->text().contains(id) &&
               f.info().busyLabel()->text().contains("another administrator") &&
               !ui.UpdateButton->isEnabled() && ui.RoomEdit->isReadOnly();
    };
    {
        OtherEditor other(f.ws.path("db"), 2);
        QVERIFY(other.locked);
        f.handOver(DataModule::oneSystemFilter("QN0002"));
        QVERIFY(readOnlySaying("QN0002"));
        // Typing reaches nothing: no wait for the lock, the row untouched.
        ui.RoomEdit->setFocus();
        QTest::keyClicks(ui.RoomEdit, "99");
        QCOMPARE(ui.RoomEdit->text(), QString("202"));
        QCOMPARE(f.dm().SysTable->state(), Table::State::Browse);
        QTest::mouseClick(f.info().tryAgainButton(), Qt::LeftButton);
        QVERIFY(f.info().readOnly());
    }
    QTest::mouseClick(f.info().tryAgainButton(), Qt::LeftButton);
    QVERIFY(!f.info().readOnly());
    QVERIFY(!f.info().busyLabel()->isVisible());
    QVERIFY(ui.UpdateButton->isEnabled());
    type(ui.RoomEdit, "909");
    QTest::mouseClick(ui.UpdateButton, Qt::LeftButton);
    QCOMPARE(f.stored("Systems.dbf", "QN0002", "Room"), QString("909"));
    MessageService::takeShown();

    // Taken while shown: the first key is refused at once and the window says why; it
    // becomes editable by itself once the other administrator is done.
    OtherEditor other(f.ws.path("db"), 2);
    QVERIFY(other.locked);
    ui.RoomEdit->setFocus();
    QTest::keyClick(ui.RoomEdit, Qt::Key_1);
    QVERIFY(readOnlySaying("QN0002"));
    QCOMPARE(ui.RoomEdit->text(), QString("909"));
    QCOMPARE(f.dm().SysTable->state(), Table::State::Browse);
    QVERIFY(MessageService::takeShown().isEmpty());
    other.done();
    QTRY_VERIFY(!f.info().readOnly());
    QTest::keyClick(ui.RoomEdit, Qt::Key_1);
    QCOMPARE(f.dm().SysTable->state(), Table::State::Edit);
}

QN_GUI_TEST_MAIN(TestSystemInfo)
#include "test_systeminfo.moc"
