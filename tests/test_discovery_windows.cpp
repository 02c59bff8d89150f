// Auto-Find and New Computers Found as a user drives them from the main window's menu. The
// end-to-end case runs this program again inside private mount and network namespaces, where
// /etc/hosts and /etc/nsswitch.conf are the test's own files.

#include "appstate.h"
#include "autodiscoverywindow.h"
#include "datamodule.h"
#include "guiutil.h"
#include "hostswriter.h"
#include "mainwindow.h"
#include "newcomputerswindow.h"
#include "table.h"
#include "ui_autodiscoverywindow.h"
#include "ui_mainwindow.h"
#include "ui_newcomputerswindow.h"

#include <QDate>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>
#include <unistd.h>

using namespace qn;
using namespace qn::discovery;
using test::Workspace;

namespace {

const char* sandboxVariable = "QUILLNET_DISCOVERY_WINDOWS_SANDBOX";

bool inSandbox() {
    return qEnvironmentVariable(sandboxVariable) == QLatin1String("active");
}

QByteArray listingOf(const QStringList& names, bool closed = true) {
    QByteArray b = "Server Name            Remark\r\n\r\n"
                   "-------------------------------------------\r\n"
                   "\\\\HEADING   not a computer\r\n";
    for (const QString& n : names)
        b += "\\\\" + n.toLatin1() + "        remark\r\n";
    return closed ? b + "The command completed successfully.\r\n" : b;
}

/// Stands in for the listing batch: leaves the prepared listing (none when null) and ends from
/// the event loop.
class FakeRunner : public ProcessRunner {
public:
    QByteArray listing;
    int starts = 0;

    void start(const QString&, const QStringList&, const QString& dir) override {
        ++starts;
        m_running = true;
        QTimer::singleShot(0, this, [this, dir] {
            if (!listing.isNull()) {
                QFile f(QDir(dir).filePath("net.txt"));
                if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    f.write(listing);
            }
            m_running = false;
            emit finished(0);
        });
    }
    bool isRunning() const override { return m_running; }

private:
    bool m_running = false;
};

/// A host-name service with a fixed table, answering after delayMs.
class FakeNames : public NameService {
public:
    std::map<QString, QString> hosts;
    int delayMs = 0;

    int lookup(const QString& name, QObject* context,
               std::function<void(const QHostInfo&)> done) override {
        QHostInfo info;
        auto it = hosts.find(name);
        if (it == hosts.end())
            info.setError(QHostInfo::HostNotFound);
        else
            info.setAddresses({QHostAddress(it->second)});
        QTimer::singleShot(delayMs, context, [done, info] { done(info); });
        return ++m_id;
    }
    void abort(int) override {}

private:
    int m_id = 0;
};

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
            r = std::make_unique<FakeRunner>();
            runner = static_cast<FakeRunner*>(r.get());
            n = std::make_unique<FakeNames>();
            names = static_cast<FakeNames*>(n.get());
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
    void autoFind() { main->ui().Find3->trigger(); }
    void viewNew() { main->ui().ViewNew1->trigger(); }
    bool waitForEnd(int ms = 10000) {
        return QTest::qWaitFor([this] { return !finder->isRunning(); }, ms);
    }
    /// Runs Auto-Find over a listing and waits for its end.
    bool run(const QByteArray& listing) {
        runner->listing = listing;
        autoFind();
        return waitForEnd();
    }
    void record(Table* t, const QStringList& fields, const QStringList& values) {
        t->setIndexName("");
        t->setFilter("");
        t->setFiltered(false);
        t->open();
        t->append();
        for (int i = 0; i < fields.size(); ++i)
            t->setFieldText(fields[i], values[i]);
        t->post();
        t->close();
    }
    QStringList column(Table* t, const QString& field) {
        t->setIndexName("");
        t->setFilter("");
        t->setFiltered(false);
        t->open();
        QStringList out;
        for (t->first(); !t->eof(); t->next())
            out << t->fieldText(field);
        t->close();
        return out;
    }
    static QStringList entries(QListWidget* box) {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out << box->item(i)->text();
        return out;
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

    Workspace ws;
    AppState state;
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<DataModule> dm;
    FakeRunner* runner = nullptr;
    FakeNames* names = nullptr;
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
    void windowsAsCreated();
    void runShowsEachNameAndKeepsTheNewOnes();
    void runsThatFindNothingNew();
    void failuresAreReportedAndEndTheRun();
    void oneRunAtATime();
    void halfASecondAfterEachLookup();
    void addRecordsEveryComputer_data();
    void addRecordsEveryComputer();
    void cancelAndEmptyAdd();
    void addErrorKeepsWindowAndEntries();
    void endToEndWithRealBatchAndResolver();
};

void TestDiscoveryWindows::windowsAsCreated() {
    Fixture f;
    auto& a = f.finder->ui();
    QCOMPARE(f.finder->objectName(), QString("TForm1"));
    QCOMPARE(f.finder->windowTitle(), QString("AutoDiscovery"));
    QCOMPARE(f.finder->size(), QSize(254, 142));
    QCOMPARE(f.finder->minimumSize(), f.finder->maximumSize());
    QVERIFY(!(f.finder->windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!f.finder->isVisible());
    QCOMPARE(a.Label1->text(), QString("Computer Found :"));
    QCOMPARE(a.Label3->text(), QString("IP Address :"));
    QCOMPARE(a.Label1->font().pixelSize(), 13);
    QVERIFY(a.Label2->font().bold() && a.Label4->font().bold());
    QCOMPARE(a.Label4->font().pixelSize(), 16);
    QCOMPARE(a.Label5->geometry().right() + 1, 232); // right end of the bar's count
    QVERIFY(a.Label5->alignment() & Qt::AlignRight);
    QCOMPARE(a.ProgressBar1->geometry(), QRect(10, 120, 223, 16));

    auto& n = f.found->ui();
    QCOMPARE(f.found->objectName(), QString("TForm3"));
    QCOMPARE(f.found->windowTitle(), QString("New Computers Found"));
    QCOMPARE(f.found->size(), QSize(348, 210));
    QVERIFY(!(f.found->windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(n.Label1->text(), QString("Computer Name"));
    QCOMPARE(n.Label2->text(), QString("IP Address"));
    QCOMPARE(n.AddButton->text(), QString("Add"));
    QCOMPARE(n.AddButton->toolTip(), QString("Add new computers to database..."));
    QCOMPARE(n.CancelButton->text(), QString("Cancel"));
    QVERIFY(!f.main->ui().ViewNew1->isEnabled());
}

void TestDiscoveryWindows::runShowsEachNameAndKeepsTheNewOnes() {
    Fixture f;
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0001", "PC7"});
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0002", "Server"});
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
    QCOMPARE(Fixture::entries(f.found->ui().NameList), (QStringList{"PC71", "alpha"}));
    QCOMPARE(Fixture::entries(f.found->ui().IPlist), (QStringList{"10.0.0.71", "10.0.0.5"}));
}

void TestDiscoveryWindows::runsThatFindNothingNew() {
    Fixture f;
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0001", "Alpha"});
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0002", "bravo"});
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

    // Fewer than five lines: the window comes and goes at once.
    QVERIFY(f.run("Server Name\r\n\r\n-----\r\n\\\\ONLY   four lines\r\n"));
    QCOMPARE(shows.shows, 3);
    QVERIFY(!f.finder->isVisible());
    QCOMPARE(f.finder->ui().Label5->text(), QString("0"));
    QVERIFY(MessageService::takeShown().isEmpty());

    // Without a closing line the listing is read to its end.
    f.names->hosts["gamma"] = "10.0.0.3";
    QVERIFY(f.run(listingOf({"alpha", "gamma", "delta"}, false)));
    QCOMPARE(f.finder->ui().ProgressBar1->maximum(), 3);
    QCOMPARE(f.finder->ui().Label5->text(), QString("3"));
    QCOMPARE(f.finder->newComputers().names, QStringList{"gamma"});
    QCOMPARE(MessageService::takeShown().size(), 1);
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
    f.autoFind();
    QCOMPARE(f.runner->starts, 2);
    bool tried = false;
    // Once charlie is in the lists, so that an Add would have something to record.
    connect(&f.finder->finder(), &AutoFind::resolving, f.finder.get(), [&](const QString& name) {
        if (name != "delta")
            return;
        tried = true;
        f.autoFind();
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
    QCOMPARE(f.column(f.dm->IPTable, "Computer"), QStringList());
    // The run went on to its end: every name was handled.
    QCOMPARE(f.finder->ui().ProgressBar1->value(), 2);
    QCOMPARE(Fixture::entries(f.found->ui().NameList), QStringList{"charlie"});
    QCOMPARE(Fixture::entries(f.found->ui().IPlist), QStringList{"10.0.0.3"});
}

void TestDiscoveryWindows::halfASecondAfterEachLookup() {
    Fixture f(false, false);
    QCOMPARE(f.finder->finder().pause(), 500);
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0001", "known"});
    f.names->hosts = {{"alpha", "10.0.0.1"}};
    QElapsedTimer clock;
    clock.start();
    QVERIFY(f.run(listingOf({"known", "alpha", "ghost"})));
    // One pause after the resolved name and one after the failed one.
    QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
}

void TestDiscoveryWindows::addRecordsEveryComputer_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty table") << QStringList{} << QStringList{"ABC0001", "ABC0002"};
    QTest::newRow("after ABC0041")
        << QStringList{"ABC0041", "ABC0007"} << QStringList{"ABC0042", "ABC0043", "ABC0044"};
}

void TestDiscoveryWindows::addRecordsEveryComputer() {
    QFETCH(QStringList, existing);
    QFETCH(QStringList, expected);
    Fixture f;
    for (const QString& id : existing)
        f.record(f.dm->SysTable, {"SysID"}, {id});
    QStringList listed;
    for (int i = 0; i < expected.size(); ++i) {
        listed << QString("pc-%1").arg(i);
        f.names->hosts[listed.last()] = QString("10.0.0.%1").arg(i + 5);
    }
    QVERIFY(f.run(listingOf(listed)));
    f.viewNew();
    // A selected entry does not restrict Add.
    f.found->ui().NameList->setCurrentRow(1);
    f.found->ui().IPlist->setCurrentRow(0);
    MessageService::takeShown();
    QTest::mouseClick(f.found->ui().AddButton, Qt::LeftButton);
    QVERIFY(MessageService::takeShown().isEmpty());
    QVERIFY(!f.found->isVisible());
    QCOMPARE(f.found->ui().NameList->count(), 0);
    QCOMPARE(f.found->ui().IPlist->count(), 0);
    QVERIFY(f.finder->newComputers().isEmpty());

    QCOMPARE(f.column(f.dm->IPTable, "SysID"), expected);
    QCOMPARE(f.column(f.dm->IPTable, "Computer"), listed);
    QCOMPARE(f.column(f.dm->SysTable, "SysID"), existing + expected);
    // 10.0.0.5, the first computer's address; its key joins the octet texts as Add New
    // System's address check builds it.
    const QStringList fields{"IP1", "IP2", "IP3", "IP4", "IPString", "Type", "Alias1"};
    const QStringList values{"10", "0", "0", "5", "10005", "", ""};
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(f.column(f.dm->IPTable, fields[i]).value(0), values[i]);
    const QStringList dates = f.column(f.dm->SysTable, "Date");
    const QDate today = QLocale().toDate(dates.last(), QLocale::ShortFormat);
    QVERIFY2(today == QDate::currentDate(), qPrintable(dates.last()));
    QCOMPARE(f.column(f.dm->SysTable, "UserFirst").last(), QString());

    // Exported, the new computers stand under the heading of the empty machine type.
    Table* ip = f.dm->IPTable;
    ip->setIndexName("");
    ip->setFilter("");
    ip->setFiltered(false);
    ip->open();
    const QByteArray file = hosts::render(hosts::collect(*ip), hosts::kCreateWord);
    ip->close();
    QList<QByteArray> lines = file.split('\n');
    QVERIFY(lines.size() > 8 && lines.takeLast().isEmpty());
    QList<QByteArray> expectedLines{"#\r", "#\r", "#\r", "#     \r", "#\r"};
    for (int i = 0; i < expected.size(); ++i)
        expectedLines << "10.0.0." + QByteArray::number(i + 5) + QByteArray(20, ' ') + '\r';
    QCOMPARE(lines.mid(8), expectedLines);

    // View New stays enabled over an emptied list.
    QVERIFY(f.main->ui().ViewNew1->isEnabled());
    f.viewNew();
    QCOMPARE(f.found->ui().NameList->count(), 0);
}

void TestDiscoveryWindows::cancelAndEmptyAdd() {
    Fixture f;
    f.names->hosts = {{"alpha", "10.0.0.1"}};
    QVERIFY(f.run(listingOf({"alpha"})));
    f.viewNew();
    QTest::mouseClick(f.found->ui().CancelButton, Qt::LeftButton);
    QVERIFY(!f.found->isVisible());
    f.viewNew();
    QTest::keyClick(f.found.get(), Qt::Key_Escape);
    QVERIFY(!f.found->isVisible());
    f.viewNew();
    QCOMPARE(Fixture::entries(f.found->ui().NameList), QStringList{"alpha"});
    QCOMPARE(f.column(f.dm->IPTable, "Computer"), QStringList());

    // A run that finds nothing leaves Add nothing to write.
    QVERIFY(f.run(listingOf({"ghost"})));
    QCOMPARE(f.found->ui().NameList->count(), 0);
    QTest::mouseClick(f.found->ui().AddButton, Qt::LeftButton);
    QVERIFY(!f.found->isVisible());
    QCOMPARE(f.column(f.dm->IPTable, "Computer"), QStringList());
    QCOMPARE(f.column(f.dm->SysTable, "SysID"), QStringList());
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
    QCOMPARE(Fixture::entries(f.found->ui().NameList), (QStringList{"first", tooLong, "third"}));
    QCOMPARE(f.column(f.dm->IPTable, "Computer"), QStringList{"first"});
    QCOMPARE(f.column(f.dm->SysTable, "SysID"), QStringList{"ABC0001"});
    QVERIFY(!f.dm->IPTable->isActive());
    QVERIFY(!f.dm->SysTable->isActive());
}

void TestDiscoveryWindows::endToEndWithRealBatchAndResolver() {
    if (!inSandbox())
        QSKIP("needs private mount and network namespaces (unshare -m -n), not permitted here");
    Fixture f(true);
    f.finder->resolver().setTimeout(3000);
    f.record(f.dm->IPTable, {"SysID", "Computer"}, {"ABC0001", "plee"});
    f.record(f.dm->SysTable, {"SysID"}, {"ABC0001"});
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
    QCOMPARE(Fixture::entries(f.found->ui().NameList), (QStringList{"alpha", "BRAVO"}));
    QCOMPARE(Fixture::entries(f.found->ui().IPlist), (QStringList{"10.1.2.3", "10.1.2.4"}));
    QTest::mouseClick(f.found->ui().AddButton, Qt::LeftButton);
    QCOMPARE(f.column(f.dm->IPTable, "SysID"), (QStringList{"ABC0001", "ABC0002", "ABC0003"}));
    QCOMPARE(f.column(f.dm->IPTable, "IPString").value(1), QString("10123"));
}

namespace {

// Runs this program again inside private namespaces; without permission for them, runs it as
// it is so that the end-to-end case skips.
int runInSandbox(int argc, char** argv) {
    QTemporaryDir dir;
    auto write = [&](const char* name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    if (!dir.isValid() ||
        !write("hosts", "127.0.0.1 localhost\n10.1.2.3 alpha\n10.1.2.4 bravo\n") ||
        !write("nsswitch.conf", "hosts: files\n"))
        return 2;
    const QString script =
        QStringLiteral("set -e\n"
                       "ip link set lo up\n"
                       "mount --bind \"$1\" /etc/hosts\n"
                       "mount --bind \"$2\" /etc/nsswitch.conf\n"
                       // A host-wide cache daemon would answer from the machine's own files.
                       "if [ -d /run/nscd ]; then mount -t tmpfs tmpfs /run/nscd; fi\n"
                       "shift 2\n"
                       "exec \"$@\"\n");
    QStringList unshare{QStringLiteral("-m"), QStringLiteral("-n")};
    if (geteuid() != 0)
        unshare.prepend(QStringLiteral("-r"));
    auto command = [&](const QStringList& program) {
        return unshare +
               QStringList{
                   QStringLiteral("sh"), QStringLiteral("-c"),  script,
                   QStringLiteral("sh"), dir.filePath("hosts"), dir.filePath("nsswitch.conf")} +
               program;
    };
    return test::rerunUnderUnshare(command({}), argc, argv, sandboxVariable,
                                   "the end-to-end case skips");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty(sandboxVariable)) {
        QCoreApplication app(argc, argv);
        return runInSandbox(argc, argv);
    }
    Application app(argc, argv);
    MessageService::setTestMode(true);
    TestDiscoveryWindows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_windows.moc"
