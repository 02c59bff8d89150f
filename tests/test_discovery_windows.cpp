// Auto-Find and New Computers Found as a user drives them from the main window's menu; run by
// test_discovery, whose namespaces the end-to-end case needs.
#include "appstate.h"
#include "autodiscoverywindow.h"
#include "discoverytest.h"
#include "newcomputerswindow.h"
#include "snapshots.h"
#include "ui_autodiscoverywindow.h"
#include "ui_newcomputerswindow.h"

#include <QAbstractItemModelTester>
#include <QTabBar>

using namespace qn;
using namespace qn::discovery;
using test::entries;
using test::listingOf;
namespace user = test::user;

namespace {

/// The windows wired to the main window as the program wires them, over real tables.
struct Fixture : test::Seeding {
    explicit Fixture(bool systemServices = false) {
        engine = &ws.engine();
        ws.writeSettings(test::settingsFile(ws.path("db"), "", "ABC"));
        main = std::make_unique<MainWindow>(state, ws.engine());
        Application::guarded([this] { main->FormCreate(); });
        dm = std::make_unique<DataModule>(ws.engine());
        if (!systemServices) {
            runner = new test::FakeRunner;
            names = new test::FakeNames;
        }
        finder = std::make_unique<AutoDiscoveryWindow>(state, *dm, *main,
                                                       std::unique_ptr<ProcessRunner>(runner),
                                                       std::unique_ptr<NameService>(names));
        found = std::make_unique<NewComputersWindow>(state, *dm, *finder);
        MainWindow::Tasks tasks;
        tasks.autoFind = [this] { finder->Find3Click(); };
        tasks.autoFindScan = [this] { finder->chooseSource(); };
        tasks.viewNew = [this] { found->showWindow(); };
        main->setTasks(std::move(tasks));
        main->show();
        QCOMPARE(finder->finder().pause(), 500); // half a second after each look-up
        finder->finder().setPause(10);
        finder->installEventFilter(&shows);
        MessageService::takeShown();
    }
    void autoFind() { user::menu(main->ui().MainMenu1, {"Systems", "New", "Auto-Find"}); }
    void viewNew() {
        user::menu(main->ui().MainMenu1, {"Systems", "New", "View New"});
        QApplication::setActiveWindow(found.get());
    }
    bool waitForEnd(int ms = 10000) {
        return QTest::qWaitFor([this] { return !finder->isRunning(); }, ms);
    }
    /// Runs Auto-Find over a listing and waits for its end.
    bool run(const QByteArray& listing) {
        runner->listing = listing;
        autoFind();
        return waitForEnd();
    }
    /// The messages shown since the last call, as "kind text".
    QStringList messages() {
        QStringList out;
        for (const auto& m : MessageService::takeShown())
            out << QString("%1 %2").arg(int(m.kind)).arg(m.text);
        return out;
    }
    /// Counts the showings of the progress window.
    struct ShowCounter : QObject {
        int shows = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            shows += e->type() == QEvent::Show;
            return false;
        }
    } shows;

    test::Workspace ws;
    AppState state;
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<DataModule> dm;
    test::FakeRunner* runner = nullptr;
    test::FakeNames* names = nullptr;
    std::unique_ptr<AutoDiscoveryWindow> finder;
    std::unique_ptr<NewComputersWindow> found;
};

const QString info = QString::number(int(MessageService::Kind::Information)) + ' ';
const QString error = QString::number(int(MessageService::Kind::Error)) + ' ';

} // namespace

class TestDiscoveryWindows : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    // A failed batch gives the error box; nothing new says so; the progress window never stays,
    // View New opens after any run that read its listing (for the changed and silent
    // computers); the next run shows each name and keeps the new ones.
    void runs() {
        Fixture f;
        test::recordIp(*f.engine, {"ABC0001 Alpha", "ABC0002 PC7"});
        QVERIFY(f.run(QByteArray())); // no listing: before the progress window is ever shown
        const QStringList shown = f.messages();
        QVERIFY2(shown.size() == 1 && shown[0].startsWith(error) && shown[0].contains("net.txt"),
                 qPrintable(shown.join('\n')));
        QVERIFY(!f.finder->isVisible() && !f.main->ui().ViewNew1->isEnabled());
        QVERIFY(f.run(listingOf({"alpha", "ALPHA"})));
        QCOMPARE(f.messages(), QStringList{info + "No new computers were found."});
        QVERIFY(!f.finder->isVisible() && f.shows.shows == 2);
        f.viewNew(); // what the run found of the recorded computers
        QCOMPARE(f.found->ui().ViewTabs->currentWidget(), f.found->ui().ChangedPage);
        user::escape();

        f.names->hosts = {{"PC71", "10.0.0.71"}};
        QStringList log;
        auto& ui = f.finder->ui();
        test::traceRun(f.finder->finder(), f.finder.get(), [&](const QString& step) {
            log << QString("%1: %2 | %3 | %4/%5%6")
                       .arg(step, ui.Label2->text(), ui.Label4->text())
                       .arg(ui.ProgressBar1->value())
                       .arg(ui.ProgressBar1->maximum())
                       .arg(f.finder->isVisible() ? "" : " hidden");
        });
        bool modal = false;
        connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(),
                [&] { modal = QApplication::activeModalWidget() == f.finder.get(); });
        f.runner->listing = listingOf({"pc7", "PC71", "ghost"});
        f.runner->delayMs = 100;
        f.autoFind();
        // The window comes at once, its bar moving while the batch runs.
        QVERIFY(f.finder->isVisible());
        QCOMPARE(ui.ProgressBar1->maximum(), 0);
        QCOMPARE(ui.Label2->text(), QString("Reading the network's list..."));
        QVERIFY(f.waitForEnd());
        QCOMPARE(log, (QStringList{"listed 3:  |  | 0/3", "1 pc7: Searching... |  | 1/3",
                                   "2 PC71: Searching... |  | 2/3", "resolving PC71: PC71 |  | 2/3",
                                   "PC71 = 10.0.0.71: PC71 | 10.0.0.71 | 2/3",
                                   "3 ghost: Searching... | 10.0.0.71 | 3/3",
                                   "resolving ghost: ghost |  | 3/3",
                                   "ghost unresolved: ghost | TCP/IP not installed | 3/3",
                                   "finished 1: ghost | TCP/IP not installed | 3/3 hidden"}));
        QCOMPARE(f.shows.shows, 3);
        QVERIFY2(modal, "other windows are blocked while the run reads the address table");
        QCOMPARE(ui.Label6->text() + ui.Label5->text(), QString("13"));
        QCOMPARE(ui.CountLabel->text(), QString("3 of 3"));
        QTRY_COMPARE(QApplication::activeWindow(), f.main.get());
        QCOMPARE(f.messages(), QStringList{info + "Found New Computers"});
        QVERIFY(f.main->ui().ViewNew1->isEnabled());
        f.viewNew();
        QVERIFY(f.found->isVisible() && f.main->isVisible());
        QCOMPARE(entries(f.found->ui().NameList) + entries(f.found->ui().IPlist),
                 (QStringList{"PC71", "10.0.0.71"}));
    }
    // While a run is in progress, the menu entry, Esc, a close request and Add change nothing; the
    // lists are emptied at its start.
    void oneRunAtATimeAndCancel() {
        Fixture f;
        f.names->hosts = {{"alpha", "10.0.0.1"}, {"bravo", "10.0.0.2"}, {"charlie", "10.0.0.3"}};
        f.names->delayMs = 30;
        QVERIFY(f.run(listingOf({"alpha", "bravo"})));
        f.viewNew();
        QCOMPARE(f.found->ui().NameList->count(), 2);
        f.runner->listing = listingOf({"charlie", "delta"});
        f.autoFind();
        QCOMPARE(f.found->ui().NameList->count(), 0);
        f.main->ui().Find3->trigger();
        bool tried = false;
        // Once charlie is in the lists, so that an Add would have something to record.
        connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(),
                [&](const QString& name) {
                    if (name != "delta")
                        return;
                    tried = true;
                    f.main->ui().Find3->trigger();
                    QTest::keyClick(f.finder.get(), Qt::Key_Escape);
                    f.finder->close();
                    f.found->ui().AddButton->click();
                });
        f.messages();
        QVERIFY(f.waitForEnd());
        QVERIFY(tried);
        QCOMPARE(f.runner->starts, 2);
        const QStringList shown = f.messages();
        QVERIFY2(shown.size() == 2 && shown[0].contains("still running"), qPrintable(shown[0]));
        QCOMPARE(shown[1], info + "Found New Computers");
        QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList());
        QCOMPARE(f.finder->ui().ProgressBar1->value(), 2); // every name was handled
        QCOMPARE(entries(f.found->ui().IPlist), QStringList{"10.0.0.3"});

        // Cancel ends a run while the batch runs or between look-ups; what was found stays.
        f.runner->delayMs = 2000;
        f.runner->listing = listingOf({"alpha"});
        f.autoFind();
        user::click(f.finder->ui().CancelButton);
        QVERIFY(!f.finder->isRunning() && !f.finder->isVisible());
        QCOMPARE(f.messages(), QStringList{info + "Auto-Find was cancelled before it found a "
                                                  "new computer."});
        f.runner->delayMs = 0;
        connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(),
                [&](const QString& name) {
                    if (name == "bravo")
                        user::click(f.finder->ui().CancelButton);
                });
        QVERIFY(f.run(listingOf({"alpha", "bravo", "charlie"})));
        QCOMPARE(f.finder->ui().CountLabel->text(), QString("2 of 3"));
        QCOMPARE(f.messages(), QStringList{info + "Found New Computers"});
        f.viewNew();
        QCOMPARE(entries(f.found->ui().NameList), QStringList{"alpha"});
    }
    // The typed road: the found computers listed, a few picked with the mouse and the keyboard, and
    // Add clicked; every computer is recorded, whatever is selected. Cancel records nothing.
    void addRecordsEveryComputer() {
        Fixture f;
        f.put("SYSTEMS.DBF", {{"SYSID", "ABC0041"}});
        f.names->hosts = {{"pc-0", "10.0.0.5"}, {"pc-1", "10.0.0.6"}};
        QVERIFY(f.run(listingOf({"pc-0", "pc-1"})));
        f.viewNew();
        user::clickButton(f.found.get(), "Cancel");
        QVERIFY(!f.found->isVisible());
        QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList());

        f.viewNew();
        user::clickCell(f.found->ui().NameList, 0);
        user::key(Qt::Key_Down);
        user::clickCell(f.found->ui().IPlist, 1);
        test::Notes notes;
        user::clickButton(f.found.get(), "Add");
        QCOMPARE(f.messages(), (QStringList{info + "Found New Computers"}));
        QCOMPARE(notes.last(), QString("2 new computers added"));
        const auto before = snapshots::list(f.ws.path("db"));
        QVERIFY(before.size() == 1 && before[0].systems == 1);
        QCOMPARE(before[0].reason, QString("Auto-Find Add of 2 computers"));
        QVERIFY(!f.found->isVisible());
        QCOMPARE(f.found->ui().NameList->count() + f.found->ui().IPlist->count(), 0);
        QCOMPARE(f.column("IP.DBF", "SYSID COMPUTER"),
                 (QStringList{"ABC0042 pc-0", "ABC0043 pc-1"}));
        // View New stays enabled over an emptied list, and Add then writes nothing.
        f.viewNew();
        user::clickButton(f.found.get(), "Add");
        QVERIFY(!f.found->isVisible());
        QCOMPARE(f.column("SYSTEMS.DBF", "SYSID").size(), 3);

        // An error halfway keeps the window and every entry; what was written stays.
        const QString tooLong(31, u'L'); // one more than COMPUTER holds
        f.names->hosts = {{"first", "10.0.0.1"}, {tooLong, "10.0.0.2"}, {"third", "10.0.0.3"}};
        QVERIFY(f.run(listingOf({"first", tooLong, "third"})));
        f.viewNew();
        f.messages();
        // Delivered as an event, so that the error goes through the application object as from a
        // click, but not through the widgets' input handling, which keeps no cleanups for an
        // exception and leaks under the leak checker.
        QMetaObject::invokeMethod(f.found.get(), &NewComputersWindow::AddButtonClick,
                                  Qt::QueuedConnection);
        QTest::qWait(0);
        const QStringList shown = f.messages();
        QVERIFY2(shown.size() == 1 && shown[0].startsWith(error), qPrintable(shown.join('\n')));
        QVERIFY(f.found->isVisible());
        QCOMPARE(entries(f.found->ui().NameList), (QStringList{"first", tooLong, "third"}));
        QCOMPARE(f.column("IP.DBF", "COMPUTER"), (QStringList{"pc-0", "pc-1", "first"}));
        QCOMPARE(f.column("SYSTEMS.DBF", "SYSID").last(), QString("ABC0044"));
        QVERIFY(!f.dm->IPTable->isActive() && !f.dm->SysTable->isActive());
    }
    // Beside the new computers: the recorded names looked up (stopped once, then to the end), a
    // changed row moved onto an address another system holds is refused, one moved to a free
    // address is stored, and the first one's old address is then free.
    void changedAndSilentComputers() {
        Fixture f;
        test::recordIp(*f.engine,
                       {"ABC0001 pc1 10.0.0.1", "ABC0002 PC2 10.0.0.2", "ABC0003 pc3 10.0.0.3"});
        f.names->hosts = {{"pc1", "10.0.0.9"}, {"pc2", "10.0.0.1"}, {"pc9", "10.0.0.99"}};
        QVERIFY(f.run(listingOf({"pc1", "pc9", "pc2"})));
        QCOMPARE(f.messages(), QStringList{info + "Found New Computers"});
        f.viewNew();
        auto& ui = f.found->ui();
        QCOMPARE(ui.ViewTabs->currentWidget(), ui.NewPage);
        QTabBar* tabs = ui.ViewTabs->tabBar();
        user::click(tabs, tabs->tabRect(1).center());
        QCOMPARE(ui.ChangedView->model()->rowCount(), 0);
        f.names->delayMs = 50;
        user::clickButton(f.found.get(), "Check Addresses");
        QVERIFY(f.found->isChecking() && ui.CheckProgress->isVisible());
        user::clickButton(f.found.get(), "Stop");
        QVERIFY(!f.found->isChecking() && ui.CheckButton->isEnabled());
        f.names->delayMs = 0;
        user::clickButton(f.found.get(), "Check Addresses");
        QTRY_VERIFY(!f.found->isChecking());
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << test::entries(ui.ChangedView, c);
        QCOMPARE(cells, (QStringList{"ABC0001", "ABC0002", "pc1", "PC2", "10.0.0.1", "10.0.0.2",
                                     "10.0.0.9", "10.0.0.1"}));
        QVERIFY(!ui.UpdateAddressButton->isEnabled());
        user::clickCell(ui.ChangedView, 1);
        user::clickButton(f.found.get(), "Update Address");
        QCOMPARE(f.messages(),
                 QStringList{info + "IP Address already exists! Please choose another"});
        user::clickCell(ui.ChangedView, 0);
        user::clickButton(f.found.get(), "Update Address");
        QCOMPARE(f.messages(), QStringList{info + "Record Updated Successfully!"});
        QCOMPARE(test::entries(ui.ChangedView), QStringList{"ABC0002"});
        user::clickCell(ui.ChangedView, 0);
        user::clickButton(f.found.get(), "Update Address");
        QCOMPARE(f.messages(), QStringList{info + "Record Updated Successfully!"});
        QCOMPARE(ui.ChangedView->model()->rowCount(), 0);
        user::click(tabs, tabs->tabRect(2).center());
        QCOMPARE(test::entries(ui.SilentView), QStringList{"ABC0003"});
        QAbstractItemModelTester(ui.SilentView->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest);
        user::escape();
        QVERIFY(!f.found->isVisible());
    }
    // The typed road from a saved nmap scan: its path typed, Enter; the new computers come with
    // the scan's addresses and no look-up, the nameless host is reported. The path is remembered,
    // and a target nmap would take for an option is refused.
    void nmapFileSource() {
        Fixture f;
        test::recordIp(*f.engine, {"ABC0001 PC7"});
        const QString scan = f.ws.path("scan.xml");
        test::writeBytes(scan, test::nmapXml(test::nmapHost("10.0.0.7", {"pc7.lab"}) +
                                             test::nmapHost("10.0.0.8", {"nas.lab.test"}) +
                                             test::nmapHost("10.0.0.3")));
        auto& ui = f.finder->ui();
        user::menu(f.main->ui().MainMenu1, {"Systems", "New", "Auto-Find from nmap..."});
        QVERIFY(ui.ScanRadio->isChecked() && f.finder->focusWidget() == ui.TargetsEdit);
        user::fill(ui.FileEdit, scan);
        user::enter();
        QVERIFY(f.waitForEnd());
        QCOMPARE(f.messages(), QStringList{info + "Found New Computers\n\n1 host answered the "
                                                  "scan without a name and cannot be recorded: "
                                                  "10.0.0.3."});
        QVERIFY(f.names->asked.isEmpty() && f.runner->starts == 0);
        f.viewNew();
        QCOMPARE(entries(f.found->ui().NameList) + entries(f.found->ui().IPlist),
                 (QStringList{"nas", "10.0.0.8"}));
        user::clickButton(f.found.get(), "Cancel");

        user::menu(f.main->ui().MainMenu1, {"Systems", "New", "Auto-Find from nmap..."});
        QVERIFY(ui.ScanRadio->isChecked() && ui.FileEdit->text() == scan);
        user::fill(ui.TargetsEdit, "10.0.0.0/29 --script=x");
        user::enter();
        const QStringList shown = f.messages();
        QVERIFY2(shown.size() == 1 && shown[0].contains("take it for an option"),
                 qPrintable(shown.join('\n')));
        QVERIFY(ui.ScanRadio->isChecked() && ui.SourcePanel->isVisible() && !f.finder->isRunning());
        user::escape();
        QVERIFY(!f.finder->isVisible());
        QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList{"PC7"});
    }
    // The real batch and the system's resolver over the sandbox's own hosts file: names found
    // by alias, canonical name or in another letter case, IPv4 preferred to IPv6; a name with
    // only an IPv6 address, or none, is not new.
    void endToEndWithRealBatchAndResolver() {
        QN_SKIP_OUTSIDE_SANDBOX();
        Fixture f(true);
        f.finder->resolver().setTimeout(3000);
        test::recordIp(*f.engine, {"ABC0001 plee"});
        test::writeBytes(f.ws.path("found.txt"), listingOf({"alpha", "PLEE", "nosuchhost", "BRAVO",
                                                            "alpha.test", "dual", "sixonly"}));
        test::writeBytes(f.ws.path("netview.sh"), "cat found.txt > net.txt\n");
        f.autoFind();
        QVERIFY(f.waitForEnd(20000));
        QCOMPARE(f.messages(), QStringList{info + "Found New Computers"});
        f.viewNew();
        QCOMPARE(entries(f.found->ui().NameList) + entries(f.found->ui().IPlist),
                 (QStringList{"alpha", "BRAVO", "alpha.test", "dual", "10.20.30.40", "10.20.30.41",
                              "10.20.30.40", "10.20.30.42"}));
    }
};

int runWindowTests(int argc, char** argv) {
    TestDiscoveryWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_windows.moc"
