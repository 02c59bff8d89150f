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

// Drops the Admin menu down; it gives way to the password window, whose box takes the keys.
void askPassword(Program& p) {
    user::menu(p.TForm6().ui().MainMenu1, {"Admin"});
    QTest::qWait(0);
    QTRY_VERIFY(p.TForm17().ui().PasswordBox->hasFocus());
}

QStringList texts(const QList<MessageService::Shown>& shown) {
    QStringList out;
    for (const auto& s : shown)
        out << s.text;
    return out;
}

void activate(QWidget* w) {
    QApplication::setActiveWindow(w);
    QTRY_COMPARE(QApplication::activeWindow(), w);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::setTestMode(true); }

    void firstRunAsNewUser() {
        Workspace ws;
        {
            // Cancelled, the question leaves the program without a set-up.
            Program cancelled(ws.engine());
            MessageService::queueAnswer(QMessageBox::Cancel);
            cancelled.start();
            QVERIFY(QTest::qWaitForWindowExposed(&cancelled.TForm6()));
            QCOMPARE(MessageService::takeShown().size(), 1);
            const auto& m = cancelled.TForm6().ui();
            QVERIFY(!cancelled.TForm16().isVisible() && !m.System1->menuAction()->isEnabled() &&
                    !m.HostFile1->menuAction()->isEnabled() && !m.Resources1->isEnabled() &&
                    !m.Csv1->menuAction()->isEnabled());
            QVERIFY(!QFile::exists(ws.path("setup.nfo")));
        }
        Program p(ws.engine());
        MainWindow& main = p.TForm6();
        QCOMPARE(p.state().SetupStatus, QString("New"));
        MessageService::queueAnswer(QMessageBox::Ok);
        p.start();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        activate(&main);
        const auto shown = MessageService::takeShown();
        QVERIFY(shown.size() == 1 && shown[0].kind == Kind::Prompt);
        QCOMPARE(shown[0].caption + shown[0].text,
                 QString("ERROR!Setup File not found. Press OK to create!"));
        AdminWindow& admin = p.TForm16();
        QVERIFY(admin.isVisible() && !p.TForm17().isVisible()); // no password question
        QVERIFY(admin.ui().IPNewPath->text().isEmpty() && admin.ui().CName->text().isEmpty());
        activate(&admin); // coming back to the main window does not ask again
        activate(&main);
        QVERIFY(MessageService::takeShown().isEmpty());

        const QString db = ws.path("inventory");
        user::clickButton(&admin, "Database Info");
        user::fill(admin.ui().IPNewPath, db);
        user::clickButton(&admin, "Prefix Info");
        user::fill(admin.ui().NewPrefixEdit, "ABC");
        user::clickButton(&admin, "Comp. Info");
        user::fill(admin.ui().CName, "Acme");
        for (const char* text : {"1 Main St", "Springfield", "IL", "62701", "555-0100", "555-0101",
                                 "it@acme.example"}) {
            user::tab();
            user::type(text);
        }
        user::clickButton(&admin, "Set Password");
        user::fill(admin.ui().NewPassword, "abc");
        user::fill(admin.ui().NewPassword2, "abc");
        user::enter(); // Save is the default
        QVERIFY(MessageService::takeShown().isEmpty());
        QCOMPARE(ws.settingsBytes(), settingsFile(db, "97\r\n98\r\n99\r\n", "ABC"));
        QCOMPARE(QDir(db).entryList(QDir::Files).size(), 20);
        QCOMPARE(ws.alias(), db);
        QVERIFY(main.setupMenusEnabled() && main.isVisible() && !admin.isVisible());
        // Saved values take effect at the next load, not in this run's record.
        QVERIFY(p.state().settings.Password.isEmpty());
        QCOMPARE(p.state().SetupStatus, QString("New"));
    }

    // A folder that cannot be made: the error box, the file read no further than line 1, no
    // alias; the program starts all the same, without the first-run question.
    void startWithFolderThatCannotBeMade() {
        Workspace ws;
        const QString db = ws.path("no/such/db");
        ws.writeSettings(settingsFile(db, "97\r\n"));
        Program p(ws.engine());
        const auto shown = MessageService::takeShown();
        QVERIFY(shown.size() == 1 && shown[0].kind == Kind::Error);
        p.start();
        QVERIFY(p.TForm6().isVisible() && MessageService::takeShown().isEmpty());
        const SettingsRecord& s = p.state().settings;
        QCOMPARE((QStringList{s.DatabasePath, s.SysIdPrefix, s.CompanyName, s.Password}),
                 (QStringList{db, "", "", ""}));
        QCOMPARE(ws.alias(), QString("<none>"));
    }

    void passwordGate() {
        Workspace ws;
        ws.writeSettings(settingsFile(ws.path("db"), "83\r\n101\r\n99\r\n")); // "Sec"
        Program p(ws.engine());
        p.start();
        PasswordWindow& pw = p.TForm17();
        auto enter = [&](const QString& text) {
            QVERIFY(pw.ui().PasswordBox->hasFocus());
            user::type(text);
            user::enter(); // OK is the default
            QVERIFY(pw.ui().PasswordBox->text().isEmpty());
        };
        askPassword(p);
        QVERIFY(!QApplication::activePopupWidget()); // no drop-down stays open to take the keys
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
        askPassword(p);
        enter("x");
        enter("Sec "); // compared as typed, blanks and all
        askPassword(p);
        QCOMPARE(pw.attempt(), 3);
        enter("Sec");
        QCOMPARE(MessageService::takeShown().size(), 2);
        QVERIFY(p.state().AdminUnlocked && !pw.isVisible() && p.TForm16().isVisible());
        const auto& ui = p.TForm16().ui();
        QCOMPARE((QStringList{ui.OldPrefixEdit->text(), ui.OldPassword->text(), ui.CName->text(),
                              ui.IPNewPath->text()}),
                 (QStringList{"QN", "Sec", "Acme", ws.path("db")}));
        askPassword(p); // asked at every drop-down; Cancel changes nothing
        user::click(pw.ui().CancelButton);
        QVERIFY(!pw.isVisible() && p.state().AdminUnlocked);
    }

    // The Admin items and the window's section buttons each show one group, at the top.
    void adminSections() {
        Workspace ws;
        ws.writeSettings(settingsFile(ws.path("db"), "97\r\n"));
        Program p(ws.engine());
        AdminWindow& admin = p.TForm16();
        auto& ui = admin.ui();
        // Locked: the item fills the boxes (not the old prefix: the password window does), then
        // asks for the password.
        p.TForm6().ui().SetupCompanyInfo1->trigger();
        QVERIFY(p.TForm17().isVisible() && !admin.isVisible() && ui.CName->text() == "Acme" &&
                ui.OldPrefixEdit->text().isEmpty());
        p.TForm17().hide();
        auto onlyShown = [&](QGroupBox* shown) {
            for (QGroupBox* g : {ui.CompanyGroup, ui.DatabaseGroup, ui.PasswordGroup, ui.PrefixBox})
                QVERIFY(g->isVisibleTo(&admin) == (g == shown) &&
                        (g != shown || g->pos() == QPoint(112, 16)));
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
        QVERIFY(!admin.isVisible() && ui.CName->text() == "typed");
        QCOMPARE(ws.settingsBytes(), settingsFile(ws.path("db"), "97\r\n"));
        admin.show();
        onlyShown(nullptr);
    }

    void capitalAShortcut() {
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
        QVERIFY(p.TForm17().isVisible() && p.state().settings.Password == "b");
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
    void adminSave() {
        Workspace ws;
        const QString db = ws.path("db");
        ws.writeSettings(settingsFile(db, "111\r\n108\r\n100\r\n")); // "old"
        Program p(ws.engine());
        AdminWindow& admin = p.TForm16();
        auto& ui = admin.ui();
        const QByteArray before = ws.settingsBytes();
        admin.fillFromSettings(p.state().settings, true);
        // Types into the boxes of a section, then presses Save.
        auto save = [&](const char* section, const QList<QLineEdit*>& boxes,
                        const QStringList& texts) {
            user::clickButton(&admin, section);
            for (int i = 0; i < boxes.size(); ++i) {
                user::fill(boxes[i], texts[i]);
                if (texts[i].isEmpty())
                    user::key(Qt::Key_Delete); // what was selected
            }
            user::click(ui.SaveButton);
        };
        auto open = [&] {
            admin.show();
            QApplication::setActiveWindow(&admin);
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
        QVERIFY(ws.alias() == db && admin.isVisible());

        // Empty new password and prefix keep the old ones; a folder with IP.dbf gets nothing.
        const QString other = ws.path("other");
        QDir().mkdir(other);
        test::writeBytes(other + "/IP.dbf", {});
        save("Database Info", {ui.IPNewPath}, {other});
        QVERIFY(MessageService::takeShown().isEmpty());
        QCOMPARE(ws.settingsBytes(), settingsFile(other, "111\r\n108\r\n100\r\n"));
        QCOMPARE(QDir(other).entryList(QDir::Files), QStringList{"IP.dbf"});
        QVERIFY(ws.alias() == other && !admin.isVisible());

        // A new prefix and password are taken as typed; an empty old password with no new one
        // writes no password lines.
        open();
        user::clickButton(&admin, "Prefix Info");
        user::fill(ui.NewPrefixEdit, " x-");
        save("Set Password", {ui.NewPassword, ui.NewPassword2}, {"n", "n"});
        QCOMPARE(ws.settingsBytes(), settingsFile(other, "110\r\n", " x-"));
        open();
        save("Set Password", {ui.NewPassword, ui.NewPassword2, ui.OldPassword}, {"", "", ""});
        QCOMPARE(ws.settingsBytes(), settingsFile(other, "", " x-"));
        QCOMPARE(p.state().settings.Password, QString("old")); // in memory until the next load
    }

    void aboutBox() {
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
};

QN_GUI_TEST_MAIN(TestStartup)

#include "test_startup.moc"
