// The discovery's logic: reading the listing, running the batch, the Auto-Find run and recording
// new computers. This program also runs the resolver and window tests, all inside private mount
// and network namespaces where /etc/hosts, /etc/nsswitch.conf and /etc/resolv.conf are the
// test's own files (or plainly, with the cases that need them skipped).
#include "autofind.h"
#include "error.h"
#include "fixtures.h"
#include "listing.h"
#include "newcomputers.h"
#include "systemrules.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace qn;
using namespace qn::discovery;
using test::listingOf;

int runResolverTests(int argc, char** argv);
int runWindowTests(int argc, char** argv);

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

/// An Auto-Find over a fake batch and name service and a real address table.
struct Rig {
    QTemporaryDir folder;
    test::FakeRunner* process = new test::FakeRunner;
    ListingRunner listing{folder.path(), std::unique_ptr<ProcessRunner>(process)};
    test::FakeNames* names = new test::FakeNames;
    Resolver resolver{std::unique_ptr<NameService>(names)};
    test::Sandbox box;
    std::unique_ptr<DataModule> data;
    std::unique_ptr<InventoryNames> known;
    std::unique_ptr<AutoFind> find;

    Rig() {
        box.createInventory();
        data = std::make_unique<DataModule>(box.engine());
        known = std::make_unique<InventoryNames>(*data);
        find = std::make_unique<AutoFind>(listing, resolver, *known);
        find->setPause(0);
    }
    void recordComputer(const QString& sysId, const QString& computer) {
        data->IPTableOpenClose("", "", false, true);
        data->IPTable->append();
        data->IPTable->setFieldText("SYSID", sysId);
        data->IPTable->setFieldText("COMPUTER", computer);
        data->IPTable->post();
        data->IPTableOpenClose("", "", false, false);
    }
    /// Runs to the end and returns the signals seen, one line each.
    QStringList run() {
        QStringList log;
        QObject ctx;
        AutoFind* f = find.get();
        QObject::connect(f, &AutoFind::listingRead, &ctx,
                         [&](int n) { log << QString("listed %1").arg(n); });
        QObject::connect(f, &AutoFind::nameStarted, &ctx, [&](int pos, const QString& n) {
            log << QString("%1 %2").arg(pos).arg(n);
        });
        QObject::connect(f, &AutoFind::resolving, &ctx,
                         [&](const QString& n) { log << "resolving " + n; });
        QObject::connect(f, &AutoFind::resolved, &ctx,
                         [&](const QString& n, const QString& a) { log << n + " = " + a; });
        QObject::connect(f, &AutoFind::unresolved, &ctx,
                         [&](const QString& n) { log << n + " unresolved"; });
        QObject::connect(f, &AutoFind::failed, &ctx,
                         [&](const QString& m) { log << "failed " + m; });
        QSignalSpy done(f, &AutoFind::finished);
        QEventLoop loop;
        QObject::connect(f, &AutoFind::finished, &loop, &QEventLoop::quit);
        QObject::connect(f, &AutoFind::failed, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        if (!find->start())
            return {"refused"};
        if (find->isRunning())
            loop.exec();
        if (!done.isEmpty())
            log << QString("finished %1").arg(done.first().first().toBool());
        return log;
    }
};

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    void cutName_data();
    void cutName();
    void parse_data();
    void parse();
    void missingListing();
    void runnerStartsBatchInWorkingFolder();
    void runnerRunsRealScript();

    void autoFindSkipsKnownAndResolvesTheRest();
    void autoFindPausesOnlyAfterLookups();
    void autoFindEachRunStartsAfresh();
    void autoFindRefusesSecondStart();

    void octets_data();
    void octets();
    void addGivesConsecutiveIdsInListOrder_data();
    void addGivesConsecutiveIdsInListOrder();
    void addWritesTheRowsOfEachComputer();
    void addStopsAtAnErrorKeepingTheLists();
};

void TestDiscovery::cutName_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isClosing");
    const struct {
        const char *tag, *line, *name;
        bool closing;
    } rows[] = {
        {"usual", "\\\\PC1                  Reception", "PC1", false},
        {"no remark", "\\\\PC1 ", "PC1", false},
        {"no space at all", "\\\\PC1", "", false},
        {"empty line", "", "", false},
        {"shorter than three", "ab", "", false},
        {"space as second char", "a bcd", "", false},
        {"space as third char", "ab cd", "", false},
        {"space as fourth char", "abX rest", "X", false},
        {"any two leading chars", "--NAME x", "NAME", false},
        {"tab is not a space", "\\\\PC1\tremark x", "PC1\tremark", false},
        {"first space wins", "\\\\A B C", "A", false},
        {"letter case kept", "\\\\pc-7.Lan x", "pc-7.Lan", false},
        {"closing sentence", "The command completed successfully.", "e", true},
        {"any three-letter word ending in e", "One more thing", "e", true},
        {"computer named e", "\\\\e   remark", "e", true},
        {"upper-case E does not close", "\\\\E   remark", "E", false},
        {"word without a space does not close", "The", "", false},
        {"longer word ending in e", "Done here", "ne", false},
    };
    for (const auto& r : rows)
        QTest::newRow(r.tag) << QString(r.line) << QString(r.name) << r.closing;
}

void TestDiscovery::cutName() {
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(bool, isClosing);
    QCOMPARE(Listing::cutName(line), name);
    QCOMPARE(Listing::isClosingLine(line), isClosing);
}

void TestDiscovery::parse_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    const QByteArray headings = listingOf({}, false);
    const QByteArray closing = "The command completed successfully.\r\n";
    const QByteArray pcs = "\\\\PC1     a\r\n\\\\PC2     b\r\n";
    QTest::newRow("usual listing") << listingOf({"PC1", "PC2"}) << QStringList{"PC1", "PC2"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("headings only") << headings << QStringList{};
    QTest::newRow("fewer than five lines")
        << QByteArray("\\\\A x\r\n\\\\B x\r\n\\\\C x\r\n\\\\D x\r\n") << QStringList{};
    QTest::newRow("LF line ends") << QByteArray(listingOf({"PC1", "PC2"})).replace("\r\n", "\n")
                                  << QStringList{"PC1", "PC2"};
    QTest::newRow("mixed line ends")
        << QByteArray("h1\nh2\r\nh3\nh4\r\n\\\\PC1 x\n\\\\PC2 x\r\nThe end.\n")
        << QStringList{"PC1", "PC2"};
    QTest::newRow("no closing line") << headings + pcs << QStringList{"PC1", "PC2"};
    QTest::newRow("no line end at the end")
        << headings + "\\\\PC1 x\r\n\\\\PC2 " << QStringList{"PC1", "PC2"};
    QTest::newRow("after the closing line ignored") << listingOf({"PC1"}) + "\\\\LATE  x\r\n"
                                                    << QStringList{"PC1"};
    QTest::newRow("closing look-alike in the headings")
        << "The\r\nThe end\r\nThe end\r\nThe end\r\n" + pcs + closing << QStringList{"PC1", "PC2"};
    QTest::newRow("computer named e ends the list")
        << headings + "\\\\PC1 x\r\n\\\\e  x\r\n\\\\PC2 x\r\n"
        << QStringList{"PC1"};
    QTest::newRow("empty names and duplicates kept")
        << headings + "\r\n\\\\PC1 x\r\n\\\\PC1\r\n\\\\PC1  \r\nxyz\r\n" + closing
        << QStringList{"", "PC1", "", "PC1", ""};
    QTest::newRow("code page 1252")
        << headings + "\\\\CAF\xC9 x\r\n\\\\\x80URO x\r\n" + closing
        << QStringList{QString::fromUtf8("CAF\u00C9"), QString::fromUtf8("\u20ACURO")};
    QTest::newRow("stray CR inside a line stays") << headings + "\\\\A\rB x\r\n"
                                                  << QStringList{"A\rB"};
}

void TestDiscovery::parse() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QCOMPARE(Listing::parse(bytes), names);
}

// No listing, or a folder in its place, is "File not found", from the reader, from a batch
// that leaves none, and from a folder without a batch.
void TestDiscovery::missingListing() {
    QTemporaryDir dir;
    const QString listing = dir.filePath("net.txt");
    QVERIFY_THROWS_EXCEPTION(Error, Listing::readFile(listing));
    QVERIFY(QDir(dir.path()).mkdir("net.txt")); // exists but is no file
    QVERIFY_THROWS_EXCEPTION(Error, Listing::readFile(listing));
    writeFile(dir.filePath("ok.txt"), listingOf({"A"}));
    QCOMPARE(Listing::readFile(dir.filePath("ok.txt")), QStringList{"A"});

    QTemporaryDir empty;
    ListingRunner runner(empty.path(), std::make_unique<test::FakeRunner>());
    QSignalSpy failed(&runner, &ListingRunner::failed);
    QSignalSpy finished(&runner, &ListingRunner::finished);
    QVERIFY(runner.start());
    QVERIFY(failed.wait(5000));
    QVERIFY(failed.first().first().toString().startsWith("File not found"));
    QCOMPARE(finished.size(), 0);
    QVERIFY(!runner.isRunning());
    ListingRunner withoutBatch(empty.path());
    try {
        withoutBatch.runAndWait();
        QFAIL("no error without a batch");
    } catch (const Error& e) {
        QVERIFY2(e.message().startsWith("File not found"), qPrintable(e.message()));
    }
}

void TestDiscovery::runnerStartsBatchInWorkingFolder() {
    QTemporaryDir dir;
    auto* process = new test::FakeRunner;
    process->listing = listingOf({"PC1", "pc2"});
    ListingRunner runner(dir.path(), std::unique_ptr<ProcessRunner>(process));
    QSignalSpy finished(&runner, &ListingRunner::finished);
    QVERIFY(runner.start());
    QVERIFY(runner.isRunning());
    QVERIFY(!runner.start());     // one batch at a time
    QCOMPARE(finished.size(), 0); // the answer comes from the event loop
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.first().first().toStringList(), (QStringList{"PC1", "pc2"}));
    QVERIFY(!runner.isRunning());
    QCOMPARE(process->starts, 1);
    QCOMPARE(process->program, QString("/bin/sh"));
    QCOMPARE(process->args, QStringList{QDir(dir.path()).filePath("netview.sh")});
    QCOMPARE(process->workingDirectory, dir.path());
    QCOMPARE(runner.listingPath(), QDir(dir.path()).filePath("net.txt"));
    // A later run reads the listing afresh, whatever the exit code.
    process->listing = listingOf({"PC3"});
    process->exitCode = 1;
    QCOMPARE(runner.runAndWait(), QStringList{"PC3"});
}

void TestDiscovery::runnerRunsRealScript() {
    QTemporaryDir dir;
    // Relative paths prove the folder; $0 proves how it was started; the pause proves that
    // the caller's event loop keeps running meanwhile.
    writeFile(
        dir.filePath("netview.sh"),
        "sleep 0.3\n"
        "printf 'h\\r\\nh\\r\\nh\\r\\nh\\r\\n\\\\\\\\%s   by sh\\r\\n' \"$(basename \"$0\")\" > "
        "net.txt.part\n"
        "printf 'The command completed successfully.\\r\\n' >> net.txt.part\n"
        "mv net.txt.part net.txt\n"
        "exit 3\n");
    QFile::setPermissions(dir.filePath("netview.sh"), QFile::ReadOwner | QFile::WriteOwner);
    ListingRunner runner(dir.path());
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runner.runAndWait(), QStringList{"netview.sh"});
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY2(ticks >= 5, "the event loop was not serviced while the batch ran");
}

void TestDiscovery::autoFindSkipsKnownAndResolvesTheRest() {
    Rig rig;
    rig.recordComputer("A0001", "PC7");
    rig.recordComputer("A0002", "Reception");
    rig.process->listing = listingOf({"pc7", "PC71", "RECEPTION", "ghost", "10.0.0.9", "PC72"});
    rig.names->hosts = {{"PC71", "10.1.1.71"}, {"PC72", "10.1.1.72"}};
    QCOMPARE(rig.run(),
             (QStringList{"listed 6", "1 pc7", "2 PC71", "resolving PC71", "PC71 = 10.1.1.71",
                          "3 RECEPTION", "4 ghost", "resolving ghost", "ghost unresolved",
                          "5 10.0.0.9", "resolving 10.0.0.9", "10.0.0.9 = 10.0.0.9", "6 PC72",
                          "resolving PC72", "PC72 = 10.1.1.72", "finished 1"}));
    QCOMPARE(rig.find->newComputers().names, (QStringList{"PC71", "10.0.0.9", "PC72"}));
    QCOMPARE(rig.find->newComputers().addresses,
             (QStringList{"10.1.1.71", "10.0.0.9", "10.1.1.72"}));
    // Known names cost no look-up; a dotted-decimal name needs none.
    QCOMPARE(rig.names->asked, (QStringList{"PC71", "ghost", "PC72"}));
    QVERIFY(!rig.data->IPTable->isActive());
    QCOMPARE(rig.data->IPTable->indexName(), QString());
}

void TestDiscovery::autoFindPausesOnlyAfterLookups() {
    Rig rig;
    rig.recordComputer("A0001", "K1");
    rig.recordComputer("A0002", "K2");
    rig.find->setPause(150);
    rig.process->listing = listingOf({"K1", "K2", "K1", "K2"});
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(rig.run().last(), QString("finished 0"));
    QVERIFY2(clock.elapsed() < 150, "a known name was followed by a pause");
    rig.process->listing = listingOf({"K1", "NEW1", "K2", "NOPE"});
    rig.names->hosts = {{"NEW1", "10.0.0.1"}};
    clock.restart();
    QCOMPARE(rig.run().last(), QString("finished 1"));
    QVERIFY2(clock.elapsed() >= 300, "resolved and failed names each need a pause");
}

// A run holds only its own names; nothing new, or a listing error, leaves nothing behind.
void TestDiscovery::autoFindEachRunStartsAfresh() {
    Rig rig;
    rig.recordComputer("A0001", "pc1");
    rig.names->hosts = {{"ONE", "10.0.0.1"}, {"TWO", "10.0.0.2"}};
    rig.process->listing = listingOf({"ONE"});
    rig.run();
    QCOMPARE(rig.find->newComputers().names, QStringList{"ONE"});
    rig.process->listing = listingOf({"TWO"});
    rig.run();
    QCOMPARE(rig.find->listedNames(), QStringList{"TWO"});
    QCOMPARE(rig.find->newComputers().names, QStringList{"TWO"});
    QCOMPARE(rig.find->newComputers().addresses, QStringList{"10.0.0.2"});
    rig.process->listing = listingOf({"PC1", "Pc1"});
    QCOMPARE(rig.run(), (QStringList{"listed 2", "1 PC1", "2 Pc1", "finished 0"}));
    QVERIFY(rig.find->newComputers().isEmpty());
    rig.process->listing = "h\r\nh\r\n\\\\PC9 x\r\n";
    QCOMPARE(rig.run(), (QStringList{"listed 0", "finished 0"}));
    QCOMPARE(rig.names->asked, (QStringList{"ONE", "TWO"}));

    rig.process->listing = listingOf({"ONE"});
    rig.run();
    QVERIFY(QFile::remove(rig.listing.listingPath()));
    rig.process->listing = QByteArray();
    const QStringList log = rig.run();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().startsWith("failed File not found"), qPrintable(log.first()));
    QVERIFY(!rig.find->isRunning());
    QVERIFY(rig.find->listedNames().isEmpty() && rig.find->newComputers().isEmpty());
    QVERIFY(!rig.data->IPTable->isActive());
}

void TestDiscovery::autoFindRefusesSecondStart() {
    Rig rig;
    rig.find->setPause(100);
    rig.process->listing = listingOf({"A", "B"});
    QSignalSpy done(rig.find.get(), &AutoFind::finished);
    QVERIFY(rig.find->start());
    QVERIFY(!rig.find->start());
    QTRY_VERIFY(!rig.find->listedNames().isEmpty()); // now resolving
    QVERIFY(rig.find->isRunning());
    QVERIFY(!rig.find->start());
    QVERIFY(done.wait(5000));
    QCOMPARE(rig.process->starts, 1);
    QCOMPARE(rig.names->asked, (QStringList{"A", "B"}));
    QVERIFY(rig.find->start()); // allowed again once over
    QVERIFY(done.wait(5000));
}

void TestDiscovery::octets_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("10.0.0.5") << "10.0.0.5" << QStringList{"10", "0", "0", "5"};
    QTest::newRow("three digits") << "192.168.100.254" << QStringList{"192", "168", "100", "254"};
    QTest::newRow("two dots") << "1.2.3" << QStringList{"1", "2", "3", ""};
    QTest::newRow("rest after the third dot") << "1.2.3.4.5" << QStringList{"1", "2", "3", "4.5"};
    QTest::newRow("empty") << "" << QStringList{"", "", "", ""};
}

void TestDiscovery::octets() {
    QFETCH(QString, address);
    QFETCH(QStringList, parts);
    const Octets o = Octets::split(address);
    QCOMPARE((QStringList{o.ip1, o.ip2, o.ip3, o.ip4}), parts);
    QCOMPARE(o.key(), parts.join(""));
}

void TestDiscovery::addGivesConsecutiveIdsInListOrder_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty table") << QStringList{} << QStringList{"ABC0001", "ABC0002"};
    QTest::newRow("after ABC0041")
        << QStringList{"ABC0041", "ABC0007"} << QStringList{"ABC0042", "ABC0043", "ABC0044"};
    QTest::newRow("past 9999") << QStringList{"ABC9999"} << QStringList{"ABC10000", "ABC10001"};
}

// Both ways of choosing the IDs: allocated before each computer, or recorded under the systems
// table's lock as the window does.
void TestDiscovery::addGivesConsecutiveIdsInListOrder() {
    QFETCH(QStringList, existing);
    QFETCH(QStringList, expected);
    for (bool underLock : {false, true}) {
        Rig rig;
        DataModule& data = *rig.data;
        for (const QString& id : existing)
            test::put(rig.box.engine(), "SYSTEMS.DBF", {{"SYSID", id}});
        NewComputers list;
        for (int i = 0; i < expected.size(); ++i)
            list.append(QString("PC%1").arg(i), QString("10.0.0.%1").arg(i));
        if (underLock)
            addNewComputers(data, list, [&](const WriteRows& write) {
                return systemrules::recordSystem(data, "ABC", QString(), write);
            });
        else
            addNewComputers(data, list, [&] { return systemrules::nextSystemId(data, "ABC"); });
        QVERIFY(list.isEmpty());
        QCOMPARE(test::column(rig.box.engine(), "IP.DBF", "SYSID"), expected);
        QCOMPARE(test::column(rig.box.engine(), "SYSTEMS.DBF", "SYSID"), existing + expected);
    }
}

void TestDiscovery::addWritesTheRowsOfEachComputer() {
    Rig rig;
    NewComputers list;
    bool asked = false;
    addNewComputers(*rig.data, list, [&] {
        asked = true;
        return QString("X");
    });
    QVERIFY(!asked); // an empty list writes nothing
    list.append("pc-five", "10.0.0.5");
    list.append("Server", "192.168.1.200");
    int n = 0;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    addNewComputers(*rig.data, list, [&] { return QString("X%1").arg(++n); });
    const QList<test::Row> ip = test::rows(rig.box.engine(), "IP.DBF");
    QCOMPARE(ip.size(), 2);
    const QStringList fields{"SYSID",    "IP1",    "IP2",    "IP3",  "IP4",     "COMPUTER",
                             "IPSTRING", "ALIAS1", "ALIAS4", "TYPE", "TYPEDESC"};
    auto row = [&](int i) {
        QStringList r;
        for (const QString& f : fields)
            r << ip[i][f];
        return r;
    };
    QCOMPARE(row(0), (QStringList{"X1", "10", "0", "0", "5", "pc-five", "10005", "", "", "", ""}));
    QCOMPARE(row(1),
             (QStringList{"X2", "192", "168", "1", "200", "Server", "1921681200", "", "", "", ""}));
    const QList<test::Row> sys = test::rows(rig.box.engine(), "SYSTEMS.DBF");
    QCOMPARE(sys.size(), 2);
    QCOMPARE(sys[1]["SYSID"], QString("X2"));
    QVERIFY(sys[0]["USERFIRST"].isEmpty() && sys[0]["COMPANY"].isEmpty());
    // DATE holds the day only.
    const QDate stored = QLocale().toDate(sys[0]["DATE"], QLocale::ShortFormat);
    QVERIFY2(stored.isValid() && stored >= before.date() && stored <= QDate::currentDate(),
             qPrintable(sys[0]["DATE"]));
}

void TestDiscovery::addStopsAtAnErrorKeepingTheLists() {
    Rig rig;
    NewComputers list;
    list.append("FIRST", "10.0.0.1");
    list.append(QString(31, u'L'), "10.0.0.2"); // one more than COMPUTER holds
    list.append("THIRD", "10.0.0.3");
    int n = 0;
    QVERIFY_THROWS_EXCEPTION(
        StoreError, addNewComputers(*rig.data, list, [&] { return QString("X%1").arg(++n); }));
    QCOMPARE(n, 2);
    QCOMPARE(list.size(), 3);
    QVERIFY(!rig.data->IPTable->isActive());
    QCOMPARE(test::column(rig.box.engine(), "IP.DBF", "COMPUTER"), QStringList{"FIRST"});
    QCOMPARE(test::column(rig.box.engine(), "SYSTEMS.DBF", "SYSID"), QStringList{"X1"});
    // The allocation's own error stops the same way.
    list.clear();
    list.append("OTHER", "10.0.0.4");
    QVERIFY_THROWS_EXCEPTION(Error, addNewComputers(*rig.data, list, []() -> QString {
                                 throw Error("'AB-1' is not a valid integer value");
                             }));
    QCOMPARE(list.size(), 1);
}

namespace {

const char* sandboxVariable = "QUILLNET_DISCOVERY_SANDBOX";

// Runs this program again inside private namespaces with the test's own name files; without
// permission for them, runs it as it is so that the cases needing them skip.
int runInSandbox(int argc, char** argv) {
    QTemporaryDir dir;
    auto write = [&](const char* name, const QByteArray& text) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    if (!dir.isValid() ||
        !write("hosts", "127.0.0.1 localhost\n10.20.30.40 alpha.test alpha\n10.20.30.41 bravo\n"
                        "fd00::42 dual\n10.20.30.42 dual\nfd00::43 sixonly\n") ||
        !write("nsswitch.conf", "hosts: files dns\n") ||
        !write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"))
        return 2;
    const QString script =
        QStringLiteral("set -e\n"
                       "ip link set lo up\n"
                       "mount --bind \"$1\" /etc/hosts\n"
                       "mount --bind \"$2\" /etc/nsswitch.conf\n"
                       "mount --bind \"$3\" /etc/resolv.conf\n"
                       // A host-wide cache daemon would answer from the machine's own files.
                       "if [ -d /run/nscd ]; then mount -t tmpfs tmpfs /run/nscd; fi\n"
                       "shift 3\n"
                       "exec \"$@\"\n");
    QStringList prefix{"-m", "-n"};
    if (geteuid() != 0)
        prefix.prepend("-r");
    prefix << "sh"
           << "-c" << script << "sh" << dir.filePath("hosts") << dir.filePath("nsswitch.conf")
           << dir.filePath("resolv.conf");
    return test::rerunUnderUnshare(prefix, argc, argv, sandboxVariable,
                                   "the cases that need them skip");
}

} // namespace

bool inDiscoverySandbox() {
    return qEnvironmentVariable(sandboxVariable) == QLatin1String("active");
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty(sandboxVariable)) {
        QCoreApplication app(argc, argv);
        return runInSandbox(argc, argv);
    }
    Application app(argc, argv);
    MessageService::setTestMode(true);
    TestDiscovery logic;
    QTEST_SET_MAIN_SOURCE_PATH
    int failed = QTest::qExec(&logic, argc, argv);
    failed += runResolverTests(argc, argv);
    failed += runWindowTests(argc, argv);
    return failed;
}

#include "test_discovery.moc"
