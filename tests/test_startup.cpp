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
    void startWithSettingsFile();
    void startWithBadSettings();
    void passwordGate();
    void passwordGateWithEmptyPassword();
    void adminSections();
    void capitalAShortcut();
    void adminSaveRules();
    void adminSaveRefusesAndKeepsOldSettings();
    void aboutBox();
};

void TestStartup::firstRunAsNewUser() {
    Workspace ws;
    Program p(ws.engine());
    MainWindow& main = p.TForm6();
    QCOMPARE(p.state().SetupStatus, QString("New"));
    QVERIFY(!main.ui().System1->menuAction()->isEnabled());
    QVERIFY(!main.ui().HostFile1->menuAction()->isEnabled());
    QVERIFY(!main.ui().Resources1->isEnabled());
    QVERIFY(main.ui().Admin1->menuAction()->isEnabled());
    QVERIFY(!main.ui().ViewNew1->isEnabled());

    MessageService::queueAnswer(QMessageBox::Ok);
    p.start();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QApplication::setActiveWindow(&main);
    QTRY_COMPARE(QApplication::activeWindow(), &main);
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Prompt);
    QCOMPARE(shown[0].caption, QString("ERROR!"));
    QCOMPARE(shown[0].text, QString("Setup File not found. Press OK to create!"));
    AdminWindow& admin = p.TForm16();
    QVERIFY(admin.isVisible());
    QVERIFY(!p.TForm17().isVisible()); // no password question
    QVERIFY(admin.ui().IPNewPath->text().isEmpty());
    QVERIFY(admin.ui().CName->text().isEmpty());

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
    QVERIFY(main.setupMenusEnabled());
    QVERIFY(main.isVisible());
    QVERIFY(!admin.isVisible());
    // Saved values take effect at the next load, not in this run's record.
    QVERIFY(p.state().settings.Password.isEmpty());
    QCOMPARE(p.state().SetupStatus, QString("New"));

    // The next start reads it all back.
    MessageService::takeShown();
    Program second(ws.engine());
    QCOMPARE(second.state().SetupStatus, QString("Old"));
    QCOMPARE(second.state().settings.Password, QString("abc"));
    QCOMPARE(second.state().settings.SysIdPrefix, QString("ABC"));
    QCOMPARE(second.state().settings.CompanyEmail, QString("it@acme.example"));
    QVERIFY(second.TForm6().setupMenusEnabled());
}

void TestStartup::firstRunPromptCancelled() {
    Workspace ws;
    Program p(ws.engine());
    MessageService::queueAnswer(QMessageBox::Cancel);
    p.TForm6().FormActivate();
    QCOMPARE(MessageService::takeShown().size(), 1);
    QVERIFY(!p.TForm16().isVisible());
    QVERIFY(p.state().SetupPrompted);
    p.TForm6().FormActivate();
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(!p.TForm6().setupMenusEnabled());
    QVERIFY(!QFile::exists(ws.path("setup.nfo")));
}

void TestStartup::startWithSettingsFile() {
    Workspace ws;
    const QString db = ws.path("db");
    ws.writeSettings(settingsFile(db, "112\r\n119\r\n"));
    Program p(ws.engine());
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(p.state().SetupStatus, QString("Old"));
    QCOMPARE(p.state().WorkingFolder, ws.path());
    QCOMPARE(p.state().SettingsFilePath, ws.path("setup.nfo"));
    QCOMPARE((QStringList{p.state().settings.DatabasePath, p.state().settings.CompanyName,
                          p.state().settings.Password}),
             (QStringList{db, "Acme", "pw"}));
    QCOMPARE(QDir(db).entryList(QDir::Files).size(), 18);
    QCOMPARE(ws.alias(), db);
    QVERIFY(p.TForm6().setupMenusEnabled());
    p.TForm6().FormActivate();
    QVERIFY(MessageService::takeShown().isEmpty());
}

// A folder that cannot be made, or a bad password line: the error box, and the settings as
// far as they were read.
void TestStartup::startWithBadSettings() {
    Workspace ws;
    ws.writeSettings(settingsFile(ws.path("no/such/db"), "97\r\n"));
    {
        Program p(ws.engine());
        const auto shown = MessageService::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].kind, Kind::Error);
        QVERIFY2(shown[0].text.contains(ws.path("no/such/db")), qPrintable(shown[0].text));
        p.start();
        QVERIFY(p.TForm6().isVisible());
        const SettingsRecord& s = p.state().settings;
        QCOMPARE(s.DatabasePath, ws.path("no/such/db"));
        QVERIFY(s.SysIdPrefix.isEmpty() && s.CompanyName.isEmpty() && s.Password.isEmpty());
        QCOMPARE(ws.alias(), QString("<none>"));
    }
    ws.writeSettings(settingsFile(ws.path("db"), "97\r\n\r\n"));
    Program p(ws.engine());
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Error);
    QCOMPARE(p.state().settings.Password, QString("a"));
    QCOMPARE(p.state().settings.CompanyName, QString("Acme"));
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
    QVERIFY(!p.TForm6().ui().Admin1->isVisible());
    QVERIFY(!QApplication::activePopupWidget());
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    QCOMPARE(pw.attempt(), 1);
    enter("sec"); // case matters
    enter("");
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList(2, "Password incorrect...Please try again!"));
    QVERIFY(pw.isVisible());
    p.TForm6().hide();
    enter("Secret");
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList{"Password entry failed 3 times...Access Denied!"});
    QVERIFY(!pw.isVisible());
    QVERIFY(p.TForm6().isVisible());
    QVERIFY(!p.state().AdminUnlocked);

    // Opened again: three new attempts; the third may be right.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    QCOMPARE(pw.attempt(), 1);
    enter("x");
    enter("y");
    // Showing it while visible does not reset the count.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    QCOMPARE(pw.attempt(), 3);
    enter("Sec");
    QCOMPARE(MessageService::takeShown().size(), 2);
    QVERIFY(p.state().AdminUnlocked);
    QVERIFY(!pw.isVisible());
    AdminWindow& admin = p.TForm16();
    QVERIFY(admin.isVisible());
    QCOMPARE(admin.ui().OldPrefixEdit->text(), QString("QN"));
    QCOMPARE(admin.ui().OldPassword->text(), QString("Sec"));
    QCOMPARE(admin.ui().CName->text(), QString("Acme"));
    QCOMPARE(admin.ui().IPNewPath->text(), ws.path("db"));

    // A run that started with a settings file asks at every drop-down, and Cancel changes nothing.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.isVisible());
    user::click(pw.ui().CancelButton);
    QVERIFY(!pw.isVisible());
    QVERIFY(p.state().AdminUnlocked);
}

void TestStartup::passwordGateWithEmptyPassword() {
    Workspace ws;
    ws.writeSettings(settingsFile(ws.path("db"), ""));
    Program p(ws.engine());
    p.start();
    PasswordWindow& pw = p.TForm17();
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    user::type(" ");
    user::enter();
    QCOMPARE(MessageService::takeShown().size(), 1);
    user::click(pw.ui().OKButton);
    QVERIFY(p.state().AdminUnlocked);
    QVERIFY(p.TForm16().isVisible());
    // Cancel on a fresh showing leaves the unlock as it was.
    dropAdminMenu(p);
    QTRY_VERIFY(pw.ui().PasswordBox->hasFocus());
    user::escape();
    QVERIFY(!pw.isVisible());
    QVERIFY(p.state().AdminUnlocked);
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
    QVERIFY(p.TForm17().isVisible());
    QVERIFY(!admin.isVisible());
    QCOMPARE(ui.CName->text(), QString("Acme"));
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
    const QList<QPair<QPushButton*, QGroupBox*>> buttons{{ui.DatabaseButton, ui.DatabaseGroup},
                                                         {ui.PrefixButton, ui.PrefixBox},
                                                         {ui.PasswordButton, ui.PasswordGroup},
                                                         {ui.CompanyButton, ui.CompanyGroup}};
    for (const auto& [button, group] : buttons) {
        user::click(button);
        onlyShown(group);
    }
    // Cancel writes nothing and keeps what was typed; shown again, no group.
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
    QVERIFY(!p.TForm17().isVisible());
    QVERIFY(!p.TForm16().isVisible());

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
    QVERIFY(!p.TForm17().isVisible());
    QVERIFY(p.TForm16().isVisible());
    QCOMPARE(p.state().SetupStatus, QString("Old"));

    // A bad line: the error box, no window.
    p.TForm16().hide();
    ws.writeSettings(settingsFile(ws.path("db"), "x\r\n"));
    QTest::keyClicks(&main, "A");
    QCOMPARE(MessageService::takeShown().size(), 1);
    QVERIFY(!p.TForm16().isVisible());
    QVERIFY(!p.TForm17().isVisible());
}

void TestStartup::adminSaveRules() {
    Workspace ws;
    const QString db = ws.path("db");
    ws.writeSettings(settingsFile(db, "111\r\n108\r\n100\r\n")); // "old"
    Program p(ws.engine());
    AdminWindow& admin = p.TForm16();
    admin.fillFromSettings(p.state().settings, true);
    admin.show();

    // Passwords that do not match: nothing written, the boxes cleared, the window open.
    const QByteArray before = ws.settingsBytes();
    admin.ui().NewPassword->setText("new1");
    admin.ui().NewPassword2->setText("new2");
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    QCOMPARE(texts(MessageService::takeShown()),
             QStringList{"Passwords DO NOT match! Please re-enter!"});
    QCOMPARE(ws.settingsBytes(), before);
    QVERIFY(admin.ui().NewPassword->text().isEmpty());
    QVERIFY(admin.ui().NewPassword2->text().isEmpty());
    QVERIFY(admin.isVisible());

    // Empty new password and prefix keep the old ones; a folder with IP.dbf gets nothing.
    const QString other = ws.path("other");
    QDir().mkdir(other);
    QFile ip(other + "/IP.dbf");
    ip.open(QIODevice::WriteOnly);
    ip.close();
    admin.ui().IPNewPath->setText(other);
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QCOMPARE(ws.settingsBytes(), settingsFile(other, "111\r\n108\r\n100\r\n"));
    QCOMPARE(QDir(other).entryList(QDir::Files), QStringList{"IP.dbf"});
    QCOMPARE(ws.alias(), other);
    QVERIFY(!admin.isVisible());

    // A new prefix and password are taken as typed; an empty old password with no new one
    // writes no password lines.
    admin.ui().NewPrefixEdit->setText(" x-");
    admin.ui().NewPassword->setText("n");
    admin.ui().NewPassword2->setText("n");
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    QVERIFY(ws.settingsBytes().contains("\r\n x-\r\n"));
    QVERIFY(ws.settingsBytes().endsWith("it@acme.example\r\n110\r\n"));
    admin.ui().NewPassword->clear();
    admin.ui().NewPassword2->clear();
    admin.ui().OldPassword->clear();
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    QVERIFY(ws.settingsBytes().endsWith("it@acme.example\r\n"));
    QCOMPARE(p.state().settings.Password, QString("old")); // in memory until the next load
}

void TestStartup::adminSaveRefusesAndKeepsOldSettings() {
    Workspace ws;
    const QString db = ws.path("db");
    ws.writeSettings(settingsFile(db, "97\r\n"));
    Program p(ws.engine());
    AdminWindow& admin = p.TForm16();
    admin.fillFromSettings(p.state().settings, true);
    admin.show();
    const QByteArray before = ws.settingsBytes();

    // A folder that cannot be made: the error, nothing written, alias as it was.
    admin.ui().IPNewPath->setText(ws.path("no/such/db"));
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, Kind::Error);
    QCOMPARE(ws.settingsBytes(), before);
    QCOMPARE(ws.alias(), db);
    QVERIFY(admin.isVisible());

    admin.ui().IPNewPath->clear();
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    QCOMPARE(MessageService::takeShown().size(), 1);
    QCOMPARE(ws.settingsBytes(), before);

    // A password character the file cannot hold would lock the administrator out.
    admin.ui().IPNewPath->setText(db);
    admin.ui().NewPassword->setText(QString::fromUtf8("pa✓"));
    admin.ui().NewPassword2->setText(QString::fromUtf8("pa✓"));
    QTest::mouseClick(admin.ui().SaveButton, Qt::LeftButton);
    shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].text.contains("password"), qPrintable(shown[0].text));
    QCOMPARE(ws.settingsBytes(), before);
    QVERIFY(admin.isVisible());
    QVERIFY(!p.TForm6().setupMenusEnabled() || p.state().SetupStatus == "Old");
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
    QVERIFY(seen);
    QVERIFY(!p.TAboutForm().isVisible());
    QCOMPARE(p.TAboutForm().result(), int(QDialog::Accepted));
}

QN_GUI_TEST_MAIN(TestStartup)

#include "test_startup.moc"
