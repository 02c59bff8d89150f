// Auto-Find and New Computers Found as a user drives them from the main window's menu; run by
// test_discovery, whose namespaces the end-to-end case needs.
#include "appstate.h"
#include "autodiscoverywindow.h"
#include "autofind.h"
#include "fixtures.h"
#include "hostswriter.h"
#include "mainwindow.h"
#include "newcomputerswindow.h"
#include "ui_autodiscoverywindow.h"
#include "ui_mainwindow.h"
#include "ui_newcomputerswindow.h"

#include <QDate>
#include <QTest>

using namespace qn;
using namespace qn::discovery;
using test::listingOf;
namespace user = test::user;

bool inDiscoverySandbox();

namespace {

/// The windows wired to the main window as the program wires them, over real tables.
struct Fixture {
    explicit Fixture(bool systemServices = false, bool shortPause = true) {
        ws.writeSettings(test::settingsFile(ws.path("db"), "", "ABC"));
        main = std::make_unique<MainWindow>(state, ws.engine());
        Application::guarded([this] { main->FormCreate(); });
        dm = std::make_unique<DataModule>(ws.engine());
        std::unique_ptr<ProcessRunner> r;
        std::unique_ptr<NameService> n;
        if (!systemServices) {
            r = std::unique_ptr<ProcessRunner>(runner = new test::FakeRunner);
            n = std::unique_ptr<NameService>(names = new test::FakeNames);
        }
        finder =
            std::make_unique<AutoDiscoveryWindow>(state, *dm, *main, std::move(r), std::move(n));
        found = std::make_unique<NewComputersWindow>(state, *dm, *finder);
        MainWindow::Tasks tasks;
        tasks.autoFind = [this] { finder->Find3Click(); };
        tasks.viewNew = [this] { found->showWindow(); };
        main->setTasks(std::move(tasks));
        main->show();
        if (shortPause)
            finder->finder().setPause(10);
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
    void record(const QString& file, const test::Row& row) { test::put(ws.engine(), file, row); }
    QStringList column(const QString& file, const QString& field) {
        return test::column(ws.engine(), file, field);
    }
    /// What the progress window shows at each step of the run, one line per step.
    QStringList& watch() {
        auto& ui = finder->ui();
        auto snap = [this, &ui](const QString& step) {
            log << QString("%1: %2 | %3 | %4/%5%6")
                       .arg(step, ui.Label2->text(), ui.Label4->text())
                       .arg(ui.ProgressBar1->value())
                       .arg(ui.ProgressBar1->maximum())
                       .arg(finder->isVisible() ? "" : " hidden");
        };
        AutoFind* f = &finder->finder();
        QObject::connect(f, &AutoFind::listingRead, finder.get(),
                         [snap](int n) { snap(QString("read %1").arg(n)); });
        QObject::connect(f, &AutoFind::nameStarted, finder.get(),
                         [snap](int, const QString& n) { snap("start " + n); });
        QObject::connect(f, &AutoFind::resolving, finder.get(),
                         [snap](const QString& n) { snap("resolving " + n); });
        QObject::connect(f, &AutoFind::resolved, finder.get(),
                         [snap](const QString& n, const QString&) { snap("resolved " + n); });
        QObject::connect(f, &AutoFind::unresolved, finder.get(),
                         [snap](const QString& n) { snap("unresolved " + n); });
        QObject::connect(f, &AutoFind::finished, finder.get(), [snap](bool) { snap("finished"); });
        return log;
    }

    test::Workspace ws;
    AppState state;
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<DataModule> dm;
    test::FakeRunner* runner = nullptr;
    test::FakeNames* names = nullptr;
    std::unique_ptr<AutoDiscoveryWindow> finder;
    std::unique_ptr<NewComputersWindow> found;
    QStringList log;
};

/// Counts the showings of a window.
struct ShowCounter : QObject {
    int shows = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

} // namespace

class TestDiscoveryWindows : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }
    void runShowsEachNameAndKeepsTheNewOnes();
    void runsThatFindNothingNew();
    void failuresAreReportedAndEndTheRun();
    void oneRunAtATime();
    void addRecordsEveryComputer();
    void cancelAndEmptyAdd();
    void addErrorKeepsWindowAndEntries();
    void endToEndWithRealBatchAndResolver();
};

void TestDiscoveryWindows::runShowsEachNameAndKeepsTheNewOnes() {
    Fixture f;
    f.record("IP.DBF", {{"SYSID", "ABC0001"}, {"COMPUTER", "PC7"}});
    f.record("IP.DBF", {{"SYSID", "ABC0002"}, {"COMPUTER", "Server"}});
    f.names->hosts = {{"PC71", "10.0.0.71"}, {"alpha", "10.0.0.5"}};
    QStringList& log = f.watch();
    ShowCounter shows;
    f.finder->installEventFilter(&shows);
    bool modal = false;
    connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(),
            [&] { modal = QApplication::activeModalWidget() == f.finder.get(); });

    f.runner->listing = listingOf({"pc7", "PC71", "SERVER", "alpha", "ghost"});
    f.autoFind();
    // Waiting for the batch shows no window, only a busy cursor.
    QVERIFY(QApplication::overrideCursor() &&
            QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    QVERIFY(f.waitForEnd());
    QCOMPARE(log, (QStringList{"read 5:  |  | 0/5", "start pc7: Searching... |  | 1/5",
                               "start PC71: Searching... |  | 2/5", "resolving PC71: PC71 |  | 2/5",
                               "resolved PC71: PC71 | 10.0.0.71 | 2/5",
                               "start SERVER: Searching... | 10.0.0.71 | 3/5",
                               "start alpha: Searching... | 10.0.0.71 | 4/5",
                               "resolving alpha: alpha |  | 4/5",
                               "resolved alpha: alpha | 10.0.0.5 | 4/5",
                               "start ghost: Searching... | 10.0.0.5 | 5/5",
                               "resolving ghost: ghost |  | 5/5",
                               "unresolved ghost: ghost | TCP/IP not installed | 5/5",
                               "finished: ghost | TCP/IP not installed | 5/5 hidden"}));
    QCOMPARE(shows.shows, 1);
    QVERIFY2(modal, "other windows are blocked while the run reads the address table");
    QCOMPARE(f.finder->ui().Label6->text(), QString("1"));
    QCOMPARE(f.finder->ui().Label5->text(), QString("5"));
    QVERIFY(!QApplication::overrideCursor());
    QTRY_COMPARE(QApplication::activeWindow(), f.main.get());

    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, MessageService::Kind::Information);
    QCOMPARE(shown[0].text, QString("Found New Computers"));
    QVERIFY(f.main->ui().ViewNew1->isEnabled());
    QVERIFY(!f.dm->IPTable->isActive());
    QVERIFY(f.dm->IPTable->indexName().isEmpty());

    f.viewNew();
    QVERIFY(f.found->isVisible());
    QVERIFY(f.main->isVisible());
    QCOMPARE(test::entries(f.found->ui().NameList), (QStringList{"PC71", "alpha"}));
    QCOMPARE(test::entries(f.found->ui().IPlist), (QStringList{"10.0.0.71", "10.0.0.5"}));
}

void TestDiscoveryWindows::runsThatFindNothingNew() {
    Fixture f;
    f.record("IP.DBF", {{"SYSID", "ABC0001"}, {"COMPUTER", "Alpha"}});
    f.record("IP.DBF", {{"SYSID", "ABC0002"}, {"COMPUTER", "bravo"}});
    f.names->hosts = {{"alpha", "10.0.0.1"}, {"BRAVO", "10.0.0.2"}};
    ShowCounter shows;
    f.finder->installEventFilter(&shows);

    // Every name recorded, in another letter case: no message, View New as it was.
    QVERIFY(f.run(listingOf({"alpha", "BRAVO", "ALPHA"})));
    QCOMPARE(shows.shows, 1);
    QVERIFY(!f.finder->isVisible());
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(!f.main->ui().ViewNew1->isEnabled());
    f.main->setViewNewEnabled(true);
    QVERIFY(f.run(listingOf({"Bravo"})));
    QVERIFY(f.main->ui().ViewNew1->isEnabled());

    // No names (fewer than five lines): the window comes and goes at once.
    QVERIFY(f.run("Server Name\r\n\r\n-----\r\n\\\\ONLY   four lines\r\n"));
    QCOMPARE(shows.shows, 3);
    QVERIFY(!f.finder->isVisible());
    QCOMPARE(f.finder->ui().Label5->text(), QString("0"));
    QVERIFY(MessageService::takeShown().isEmpty());
}

void TestDiscoveryWindows::failuresAreReportedAndEndTheRun() {
    Fixture f;
    ShowCounter shows;
    f.finder->installEventFilter(&shows);

    // The batch left no listing: the error box, before the progress window is ever shown.
    QVERIFY(f.run(QByteArray()));
    auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, MessageService::Kind::Error);
    QVERIFY2(shown[0].text.contains("net.txt"), qPrintable(shown[0].text));
    QCOMPARE(shows.shows, 0);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!f.main->ui().ViewNew1->isEnabled());

    // The address table cannot be opened: reported, the window gone, the next run possible.
    QVERIFY(QFile::rename(f.ws.path("db/IP.dbf"), f.ws.path("db/IP.gone")));
    QVERIFY(f.run(listingOf({"alpha"})));
    shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, MessageService::Kind::Error);
    QVERIFY(!f.finder->isVisible());
    QVERIFY(!f.main->ui().ViewNew1->isEnabled());

    QVERIFY(QFile::rename(f.ws.path("db/IP.gone"), f.ws.path("db/IP.dbf")));
    f.names->hosts["alpha"] = "10.0.0.1";
    QVERIFY(f.run(listingOf({"alpha"})));
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Found New Computers"));
}

void TestDiscoveryWindows::oneRunAtATime() {
    Fixture f;
    f.names->hosts = {{"alpha", "10.0.0.1"}, {"bravo", "10.0.0.2"}, {"charlie", "10.0.0.3"}};
    f.names->delayMs = 30;
    QVERIFY(f.run(listingOf({"alpha", "bravo"})));
    MessageService::takeShown();
    f.viewNew();
    QCOMPARE(f.found->ui().NameList->count(), 2);

    // A second run: the lists are emptied at its start, and the menu entry, Esc, a close
    // request and Add change nothing while it is in progress.
    f.runner->listing = listingOf({"charlie", "delta"});
    f.autoFind();
    QCOMPARE(f.found->ui().NameList->count(), 0);
    f.main->ui().Find3->trigger();
    QCOMPARE(f.runner->starts, 2);
    bool tried = false;
    // Once charlie is in the lists, so that an Add would have something to record.
    connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(), [&](const QString& name) {
        if (name != "delta")
            return;
        tried = true;
        f.main->ui().Find3->trigger();
        QTest::keyClick(f.finder.get(), Qt::Key_Escape);
        f.finder->close();
        f.found->ui().AddButton->click();
    });
    QVERIFY(f.waitForEnd());
    QVERIFY(tried);
    QCOMPARE(f.runner->starts, 2);
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].text.contains("still running"), qPrintable(shown[0].text));
    QCOMPARE(shown[1].text, QString("Found New Computers"));
    QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList());
    // The run went on to its end: every name was handled.
    QCOMPARE(f.finder->ui().ProgressBar1->value(), 2);
    QCOMPARE(test::entries(f.found->ui().NameList), QStringList{"charlie"});
    QCOMPARE(test::entries(f.found->ui().IPlist), QStringList{"10.0.0.3"});
}

// The typed road: the found computers listed, one picked in each list, and Add clicked; every
// computer is recorded, whatever is selected.
void TestDiscoveryWindows::addRecordsEveryComputer() {
    Fixture f(false, false);
    QCOMPARE(f.finder->finder().pause(), 500); // half a second after each look-up
    f.finder->finder().setPause(10);
    QVERIFY(!f.main->ui().ViewNew1->isEnabled());
    f.record("SYSTEMS.DBF", {{"SYSID", "ABC0041"}});
    f.names->hosts = {{"pc-0", "10.0.0.5"}, {"pc-1", "10.0.0.6"}};
    QVERIFY(f.run(listingOf({"pc-0", "pc-1"})));
    MessageService::takeShown();
    f.viewNew();
    user::clickCell(f.found->ui().NameList, 1);
    user::clickCell(f.found->ui().IPlist, 0);
    user::clickButton(f.found.get(), "Add");
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(!f.found->isVisible());
    QCOMPARE(f.found->ui().NameList->count() + f.found->ui().IPlist->count(), 0);
    QVERIFY(f.finder->newComputers().isEmpty());
    QCOMPARE(f.column("IP.DBF", "SYSID"), (QStringList{"ABC0042", "ABC0043"}));
    QCOMPARE(f.column("IP.DBF", "COMPUTER"), (QStringList{"pc-0", "pc-1"}));
    QCOMPARE(f.column("IP.DBF", "IPSTRING"), (QStringList{"10005", "10006"}));
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), (QStringList{"ABC0041", "ABC0042", "ABC0043"}));
    const QDate day =
        QLocale().toDate(f.column("SYSTEMS.DBF", "DATE").last(), QLocale::ShortFormat);
    QCOMPARE(day, QDate::currentDate());

    // Exported, the new computers stand under the heading of the empty machine type.
    Table* ip = f.dm->IPTable;
    ip->open();
    const QByteArray file = hosts::render(hosts::collect(*ip), hosts::kCreateWord);
    ip->close();
    QCOMPARE(file.split('\n').mid(8),
             (QList<QByteArray>{"#\r", "#\r", "#\r", "#     \r", "#\r",
                                "10.0.0.5" + QByteArray(20, ' ') + '\r',
                                "10.0.0.6" + QByteArray(20, ' ') + '\r', ""}));
    // View New stays enabled over an emptied list.
    f.viewNew();
    QCOMPARE(f.found->ui().NameList->count(), 0);
}

void TestDiscoveryWindows::cancelAndEmptyAdd() {
    Fixture f;
    f.names->hosts = {{"alpha", "10.0.0.1"}};
    QVERIFY(f.run(listingOf({"alpha"})));
    f.viewNew();
    user::clickButton(f.found.get(), "Cancel");
    QVERIFY(!f.found->isVisible());
    f.viewNew();
    user::clickCell(f.found->ui().NameList, 0);
    user::escape();
    QVERIFY(!f.found->isVisible());
    f.viewNew();
    QCOMPARE(test::entries(f.found->ui().NameList), QStringList{"alpha"});
    QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList());

    // A run that finds nothing leaves Add nothing to write.
    QVERIFY(f.run(listingOf({"ghost"})));
    QCOMPARE(f.found->ui().NameList->count(), 0);
    user::clickButton(f.found.get(), "Add");
    QVERIFY(!f.found->isVisible());
    QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList());
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), QStringList());
}

void TestDiscoveryWindows::addErrorKeepsWindowAndEntries() {
    Fixture f;
    const QString tooLong(31, u'L'); // one more than COMPUTER holds
    f.names->hosts = {{"first", "10.0.0.1"}, {tooLong, "10.0.0.2"}, {"third", "10.0.0.3"}};
    QVERIFY(f.run(listingOf({"first", tooLong, "third"})));
    f.viewNew();
    MessageService::takeShown();
    // Delivered as an event, so that the error goes through the application object as from a
    // click, but not through the widgets' input handling, which keeps no cleanups for an
    // exception and leaks under the leak checker.
    QMetaObject::invokeMethod(f.found.get(), &NewComputersWindow::AddButtonClick,
                              Qt::QueuedConnection);
    QTest::qWait(0);
    const auto shown = MessageService::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, MessageService::Kind::Error);
    QVERIFY(f.found->isVisible());
    QCOMPARE(test::entries(f.found->ui().NameList), (QStringList{"first", tooLong, "third"}));
    QCOMPARE(f.column("IP.DBF", "COMPUTER"), QStringList{"first"});
    QCOMPARE(f.column("SYSTEMS.DBF", "SYSID"), QStringList{"ABC0001"});
    QVERIFY(!f.dm->IPTable->isActive());
    QVERIFY(!f.dm->SysTable->isActive());
}

void TestDiscoveryWindows::endToEndWithRealBatchAndResolver() {
    if (!inDiscoverySandbox())
        QSKIP("needs private mount and network namespaces (unshare -m -n), not permitted here");
    Fixture f(true);
    f.finder->resolver().setTimeout(3000);
    f.record("IP.DBF", {{"SYSID", "ABC0001"}, {"COMPUTER", "plee"}});
    f.record("SYSTEMS.DBF", {{"SYSID", "ABC0001"}});
    QFile batch(f.ws.path("netview.sh"));
    QVERIFY(batch.open(QIODevice::WriteOnly));
    batch.write("printf 'Server Name  Remark\\r\\n\\r\\n-----\\r\\n\\\\\\\\HEAD  x\\r\\n"
                "\\\\\\\\alpha   mDNS\\r\\n\\\\\\\\PLEE   NetBIOS\\r\\n"
                "\\\\\\\\nosuchhost   neighbour\\r\\n\\\\\\\\BRAVO   NetBIOS\\r\\n"
                "The command completed successfully.\\r\\n' > net.txt\n");
    batch.close();

    f.autoFind();
    QVERIFY(f.waitForEnd(20000));
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Found New Computers"));
    f.viewNew();
    QCOMPARE(test::entries(f.found->ui().NameList), (QStringList{"alpha", "BRAVO"}));
    QCOMPARE(test::entries(f.found->ui().IPlist), (QStringList{"10.20.30.40", "10.20.30.41"}));
    user::clickButton(f.found.get(), "Add");
    QCOMPARE(f.column("IP.DBF", "SYSID"), (QStringList{"ABC0001", "ABC0002", "ABC0003"}));
    QCOMPARE(f.column("IP.DBF", "IPSTRING").value(1), QString("10203040"));
}

int runWindowTests(int argc, char** argv) {
    TestDiscoveryWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_windows.moc"
