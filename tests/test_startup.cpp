// The program's start, first run, password gate and administration, driven like a user would.
#include "aboutbox.h"
#include "adminwindow.h"
#include "appstate.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "passwordwindow.h"
#include "program.h"
#include "ui_aboutbox.h"
#include "ui_adminwindow.h"
#include "ui_mainwindow.h"
#include "ui_passwordwindow.h"

#include <QTest>
#include <QTimer>

using namespace qn;
using Kind = MessageService::Kind;
using test::settingsFile;
using test::Workspace;
namespace user = test::user;

namespace {

// Drops the Admin menu down; it gives way to the password window when that asks.
void dropAdminMenu(Program& p) {
    user::menu(p.TForm6().ui().MainMenu1, {"Admin"});
    QTest::qWait(0);
}

QStringList texts(const QList<MessageService::Shown>& shown) {
    QStringList out;
    for (const auto& s : shown)
        out << s.text;
    return out;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::setTestMode(true); }
    void firstRunAsNewUser();
    void firstRunPromptCancelled();
    void startWithSettings_data();
    void startWithSettings();
    void passwordGate();
    void adminSections();
    void capitalAShortcut();
    void adminSave();
    void aboutBox();
};

void TestStartup::firstRunAsNewUser() {
    Workspace ws;
    Program p(ws.engine());
    MainWindow& main = p.TForm6();
    QCOMPARE(p.state().SetupStatus, QString("New"));
    QVERIFY(!main.ui().System1->menuAction()->isEnabled() &&
            !main.ui().HostFile1->menuAction()->isEnabled() && !main.ui().Resources1->isEnabled() &&
            !main.ui().ViewNew1->isEnabled() && main.ui().Admin1->menuAction()->isEnabled());

    MessageService::queueAnswer(QMessageBox::Ok);
    p.start();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QApplication::setActiveWindow(&main);
    QTRY_COMPARE(QApplication::activeWindow(), &main);
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Prompt);
    QCOMPARE(shown[0].caption + shown[0].text,
             QString("ERROR!Setup File not found. Press OK to create!"));
    AdminWindow& admin = p.TForm16();
    QVERIFY(admin.isVisible() && !p.TForm17().isVisible()); // no password question
    QVERIFY(admin.ui().IPNewPath->text().isEmpty() && admin.ui().CName->text().isEmpty());

    // Coming back to the main window does not ask again.
    QApplication::setActiveWindow(&admin);
    QTRY_COMPARE(QApplication::activeWindow(), &admin);
    QApplication::setActiveWindow(&main);
    QTRY_COMPARE(QApplication::activeWindow(), &main);
    QVERIFY(MessageService::takeShown().isEmpty());

    const QString db = ws.path("inventory");
    auto page = [&](const char* button) { user::clickButton(&admin, button); };
    page("Database Info");
    user::fill(admin.ui().IPNewPath, db);
    page("Prefix Info");
    user::fill(admin.ui().NewPrefixEdit, "ABC");
    page("Comp. Info");
    user::fill(admin.ui().CName, "Acme");
    for (const char* text :
         {"1 Main St", "Springfield", "IL", "62701", "555-0100", "555-0101", "it@acme.example"}) {
        user::tab();
        user::type(text);
    }
    page("Set Password");
    user::fill(admin.ui().NewPassword, "abc");
    user::fill(admin.ui().NewPassword2, "abc");
    user::enter(); // Save is the default

    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(ws.settingsBytes(),
             db.toLocal8Bit() + "\r\nABC\r\nAcme\r\n1 Main St\r\nSpringfield\r\nIL\r\n62701\r\n"
                                "555-0100\r\n555-0101\r\nit@acme.example\r\n97\r\n98\r\n99\r\n");
    QCOMPARE(QDir(db).entryList(QDir::Files).size(), 20);
    QCOMPARE(ws.alias(), db);
    QVERIFY(main.setupMenusEnabled() && main.isVisible() && !admin.isVisible());
    // Saved values take effect at the next load, not in this run's record.
    QVERIFY(p.state().settings.Password.isEmpty());
    QCOMPARE(p.state().SetupStatus, QString("New"));
    Program second(ws.engine());
    const SettingsRecord& s = second.state().settings;
    QCOMPARE((QStringList{second.state().SetupStatus, s.Password, s.SysIdPrefix, s.CompanyEmail}),
             (QStringList{"Old", "abc", "ABC", "it@acme.example"}));
}

void TestStartup::firstRunPromptCancelled() {
    Workspace ws;
    Program p(ws.engine());
    MessageService::queueAnswer(QMessageBox::Cancel);
    p.start();
    QVERIFY(QTest::qWaitForWindowExposed(&p.TForm6()));
    QCOMPARE(MessageService::takeShown().size(), 1);
    QVERIFY(!p.TForm16().isVisible() && !p.TForm6().setupMenusEnabled());
    QVERIFY(!QFile::exists(ws.path("setup.nfo")));
}

void TestStartup::startWithSettings_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("passwordLines");
    QTest::addColumn<bool>("error");
    QTest::addColumn<QStringList>("read"); // prefix, company, password
    QTest::addColumn<bool>("aliased");
    QTest::newRow("good") << "db" << QByteArray("112\r\n119\r\n") << false
                          << QStringList{"QN", "Acme", "pw"} << true;
    // Read as far as they go: a folder that cannot be made stops before line 2.
    QTest::newRow("folder cannot be made")
        << "no/such/db" << QByteArray("97\r\n") << true << QStringList{"", "", ""} << false;
    QTest::newRow("bad password line")
        << "db" << QByteArray("97\r\n\r\n") << true << QStringList{"QN", "Acme", "a"} << true;
}

void TestStartup::startWithSettings() {
    QFETCH(QString, folder);
    QFETCH(QByteArray, passwordLines);
    QFETCH(bool, error);
    QFETCH(QStringList, read);
    QFETCH(bool, aliased);
    Workspace ws;
    const QString db = ws.path(folder);
    ws.writeSettings(settingsFile(db, passwordLines));
    Program p(ws.engine());
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), int(error));
    if (error)
        QCOMPARE(shown[0].kind, Kind::Error);
    p.start();
    QVERIFY(p.TForm6().isVisible());
    QVERIFY(MessageService::takeShown().isEmpty()); // no first-run question
    const SettingsRecord& s = p.state().settings;
    QCOMPARE(s.DatabasePath, db);
    QCOMPARE((QStringList{s.SysIdPrefix, s.CompanyName, s.Password}), read);
    QCOMPARE(ws.alias(), aliased ? db : QString("<none>"));
    if (!error) {
        QCOMPARE(p.state().SetupStatus, QString("Old"));
        QCOMPARE(p.state().SettingsFilePath, ws.path("setup.nfo"));
        QCOMPARE(QDir(db).entryList(QDir::Files).size(), 18);
        QVERIFY(p.TForm6().setupMenusEnabled());
    }
}

void TestStartup::passwordGate() {
    Workspace ws;
    ws.writeSettings(settingsFile(ws.path("db"), "83\r\n101\r\n99\r\n")); // "Sec"
    Program p(ws.engine());
    p.start();
    PasswordWindow& pw = p.TForm17();
    QCOMPARE(pw.ui().PasswordBox->echoMode(), QLineEdit::Password);
    auto enter = [&](const QString& text) {
        QVERIFY(pw.ui().PasswordBox->hasFocus());
        user::type(text);
        user::enter(); // OK is the default
        QVERIFY(pw.ui().PasswordBox->text().isEmpty());
    };
    // The menu gives way to the password window: no drop-down stays open to take the keys.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.isVisible());
    QVERIFY(!QApplication::activePopupWidget());
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    QCOMPARE(pw.attempt(), 1);
    enter("sec"); // case matters
    enter("");
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList(2, "Password incorrect...Please try again!"));
    p.TForm6().hide();
    enter("Secret");
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList{"Password entry failed 3 times...Access Denied!"});
    QVERIFY(!pw.isVisible() && p.TForm6().isVisible() && !p.state().AdminUnlocked);

    // Opened again: three new attempts; showing it while visible does not reset the count.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    enter("x");
    enter("y");
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    QCOMPARE(pw.attempt(), 3);
    enter("Sec");
    QCOMPARE(MessageService::takeShown().size(), 2);
    QVERIFY(p.state().AdminUnlocked && !pw.isVisible());
    AdminWindow& admin = p.TForm16();
    QVERIFY(admin.isVisible());
    QCOMPARE((QStringList{admin.ui().OldPrefixEdit->text(), admin.ui().OldPassword->text(),
                          admin.ui().CName->text(), admin.ui().IPNewPath->text()}),
             (QStringList{"QN", "Sec", "Acme", ws.path("db")}));
    // Asked at every drop-down; Cancel changes nothing.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.isVisible());
    user::click(pw.ui().CancelButton);
    QVERIFY(!pw.isVisible() && p.state().AdminUnlocked);

    // With no password stored, only an empty entry opens.
    Workspace open;
    open.writeSettings(settingsFile(open.path("db"), ""));
    Program q(open.engine());
    q.start();
    dropAdminMenu(q);
    QTRY_VERIFY(q.TForm17().ui().PasswordBox->hasFocus());
    user::type(" ");
    user::enter();
    QCOMPARE(MessageService::takeShown().size(), 1);
    user::click(q.TForm17().ui().OKButton);
    QVERIFY(q.state().AdminUnlocked && q.TForm16().isVisible());
}

// The Admin items and the window's section buttons each show one group, at the top.
void TestStartup::adminSections() {
    Workspace ws;
    ws.writeSettings(settingsFile(ws.path("db"), "97\r\n"));
    Program p(ws.engine());
    AdminWindow& admin = p.TForm16();
    auto& ui = admin.ui();
    // Locked: the item fills the boxes, then asks for the password.
    p.TForm6().ui().SetupCompanyInfo1->trigger();
    QVERIFY(p.TForm17().isVisible() && !admin.isVisible() && ui.CName->text() == "Acme");
    QVERIFY(ui.OldPrefixEdit->text().isEmpty()); // only the password window fills it
    p.TForm17().hide();
    const QList<QGroupBox*> groups{ui.CompanyGroup, ui.DatabaseGroup, ui.PasswordGroup,
                                   ui.PrefixBox};
    auto onlyShown = [&](QGroupBox* shown) {
        for (QGroupBox* g : groups) {
            QCOMPARE(g->isVisibleTo(&admin), g == shown);
            if (g == shown)
                QCOMPARE(g->pos(), QPoint(112, 16));
        }
    };
    p.state().AdminUnlocked = true;
    const QList<QPair<QAction*, QGroupBox*>> items{
        {p.TForm6().ui().SetupCompanyInfo1, ui.CompanyGroup},
        {p.TForm6().ui().SetupDatabaseInfo1, ui.DatabaseGroup},
        {p.TForm6().ui().ResetPassword1, ui.PasswordGroup}};
    for (const auto& [item, group] : items) {
        admin.hide();
        item->trigger();
        QVERIFY(admin.isVisible() && !p.TForm17().isVisible());
        onlyShown(group);
    }
    user::click(ui.PrefixButton); // the other section buttons are on the first-run road
    onlyShown(ui.PrefixBox);
    // Cancel writes nothing and keeps what was typed; shown again, no group.
    user::click(ui.CompanyButton);
    user::fill(ui.CName, "typed");
    user::click(ui.CancelButton);
    QVERIFY(!admin.isVisible());
    QCOMPARE(ws.settingsBytes(), settingsFile(ws.path("db"), "97\r\n"));
    QCOMPARE(ui.CName->text(), QString("typed"));
    admin.show();
    onlyShown(nullptr);
}

void TestStartup::capitalAShortcut() {
    Workspace ws;
    ws.writeSettings(settingsFile(ws.path("db"), "97\r\n"));
    Program p(ws.engine());
    p.start();
    MainWindow& main = p.TForm6();
    QTest::keyClicks(&main, "a");
    QVERIFY(!p.TForm17().isVisible() && !p.TForm16().isVisible());

    // The shortcut reloads the file first.
    ws.writeSettings(settingsFile(ws.path("db2"), "98\r\n"));
    QTest::keyClicks(&main, "A");
    QVERIFY(p.TForm17().isVisible());
    QCOMPARE(p.state().settings.Password, QString("b"));
    QCOMPARE(p.TForm16().ui().IPNewPath->text(), ws.path("db2"));
    QVERIFY(!QFile::exists(ws.path("db2"))); // no set-up
    p.TForm17().hide();

    ws.writeSettings(settingsFile(ws.path("db"), ""));
    QTest::keyClicks(&main, "A");
    QVERIFY(!p.TForm17().isVisible() && p.TForm16().isVisible());
    QCOMPARE(p.state().SetupStatus, QString("Old"));

    // A bad line: the error box, no window.
    p.TForm16().hide();
    ws.writeSettings(settingsFile(ws.path("db"), "x\r\n"));
    QTest::keyClicks(&main, "A");
    QCOMPARE(MessageService::takeShown().size(), 1);
    QVERIFY(!p.TForm16().isVisible() && !p.TForm17().isVisible());
}

// Save writes the file only when it can be read back and the folder is there; what it keeps
// in memory changes at the next load.
void TestStartup::adminSave() {
    Workspace ws;
    const QString db = ws.path("db");
    ws.writeSettings(settingsFile(db, "111\r\n108\r\n100\r\n")); // "old"
    Program p(ws.engine());
    AdminWindow& admin = p.TForm16();
    auto& ui = admin.ui();
    const QByteArray before = ws.settingsBytes();
    admin.fillFromSettings(p.state().settings, true);
    auto open = [&] {
        admin.show();
        QApplication::setActiveWindow(&admin);
    };
    // Types into the boxes of a section, then presses Save.
    auto save = [&](const char* section, const QList<QLineEdit*>& boxes, const QStringList& texts) {
        user::clickButton(&admin, section);
        for (int i = 0; i < boxes.size(); ++i) {
            user::fill(boxes[i], texts[i]);
            if (texts[i].isEmpty())
                user::key(Qt::Key_Delete); // what was selected
        }
        user::click(ui.SaveButton);
    };
    open();
    // Passwords that do not match: nothing written, the boxes cleared, the window open.
    save("Set Password", {ui.NewPassword, ui.NewPassword2}, {"new1", "new2"});
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList{"Passwords DO NOT match! Please re-enter!"});
    QVERIFY(ui.NewPassword->text().isEmpty() && ui.NewPassword2->text().isEmpty());
    // A folder that cannot be made: the error, nothing written, the alias as it was.
    save("Database Info", {ui.IPNewPath}, {ws.path("no/such/db")});
    QCOMPARE(MessageService::takeShown().value(0).kind, Kind::Error);
    QCOMPARE(ws.settingsBytes(), before);
    QCOMPARE(ws.alias(), db);
    QVERIFY(admin.isVisible());

    // Empty new password and prefix keep the old ones; a folder with IP.dbf gets nothing.
    const QString other = ws.path("other");
    QDir().mkdir(other);
    QFile ip(other + "/IP.dbf");
    ip.open(QIODevice::WriteOnly);
    ip.close();
    save("Database Info", {ui.IPNewPath}, {other});
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(ws.settingsBytes(), settingsFile(other, "111\r\n108\r\n100\r\n"));
    QCOMPARE(QDir(other).entryList(QDir::Files), QStringList{"IP.dbf"});
    QCOMPARE(ws.alias(), other);
    QVERIFY(!admin.isVisible());

    // A new prefix and password are taken as typed; an empty old password with no new one
    // writes no password lines.
    open();
    user::clickButton(&admin, "Prefix Info");
    user::fill(ui.NewPrefixEdit, " x-");
    save("Set Password", {ui.NewPassword, ui.NewPassword2}, {"n", "n"});
    QVERIFY(ws.settingsBytes().contains("\r\n x-\r\n"));
    QVERIFY(ws.settingsBytes().endsWith("it@acme.example\r\n110\r\n"));
    open();
    save("Set Password", {ui.NewPassword, ui.NewPassword2, ui.OldPassword}, {"", "", ""});
    QVERIFY(ws.settingsBytes().endsWith("it@acme.example\r\n"));
    QCOMPARE(p.state().settings.Password, QString("old")); // in memory until the next load
}

void TestStartup::aboutBox() {
    Workspace ws;
    Program p(ws.engine());
    bool seen = false;
    QTimer::singleShot(0, [&] {
        AboutBox& box = p.TAboutForm();
        seen = box.isVisible() && box.isModal() &&
               box.ui().Version->text() == QLatin1String("version 2.0");
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    p.TForm6().ui().About1->trigger();
    QVERIFY(seen && !p.TAboutForm().isVisible());
    QCOMPARE(p.TAboutForm().result(), int(QDialog::Accepted));
}

QN_GUI_TEST_MAIN(TestStartup)

#include "test_startup.moc"
