// The discovery's logic: reading the listing, running the batch, the Auto-Find run and recording
// new computers. This program also runs the resolver, window and netview.sh tests, all inside
// private mount and network namespaces where /etc/hosts, /etc/nsswitch.conf and
// /etc/resolv.conf are the test's own files (or plainly, with the cases that need them skipped).
#include "discoverytest.h"
#include "fixtures.h"
#include "listing.h"
#include "newcomputers.h"
#include "nmapscan.h"
#include "systemrules.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <unistd.h>

using namespace qn;
using namespace qn::discovery;
using test::listingOf;
using test::nmapHost;
using test::nmapXml;

namespace {

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
    void recordComputers(const QStringList& computers) {
        for (const QString& c : computers)
            test::put(box.engine(), "IP.DBF", {{"SYSID", "A" + c}, {"COMPUTER", c}});
    }
    /// Runs over a listing to the end and returns the signals seen, one line each.
    QStringList run(const QByteArray& listingBytes) {
        process->listing = listingBytes;
        QStringList log;
        QObject ctx;
        test::traceRun(*find, &ctx, [&](const QString& line) { log << line; });
        if (!find->start())
            return {"refused"};
        if (!QTest::qWaitFor([this] { return !find->isRunning(); }, 10000))
            return {"still running"};
        return log;
    }
    QStringList column(const QString& file, const QString& field) {
        return test::column(box.engine(), file, field);
    }
};

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    // Lines after the four headings give a name each, from index 2 to the first space; a line
    // whose name is "e" closes the list.
    void parse_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
#define H "Server Name    Remark\r\n\r\n---------\r\n\\\\HEADING  not listed\r\n"
        const struct {
            const char *tag, *bytes, *names; // names joined by '|'; null: none
        } rows[] = {
            {"usual", H "\\\\PC1                  Reception\r\n\\\\pc2 x\r\n", "PC1|pc2"},
            {"no space, empty line, space as third char", H "\\\\PC1\r\n\r\nab cd\r\n", "||"},
            {"space as fourth char", H "abX rest\r\n", "X"},
            {"tab is not a space", H "\\\\PC1\tremark x\r\n", "PC1\tremark"},
            {"first space wins", H "\\\\A B C\r\n", "A"},
            {"closing sentence", H "\\\\A x\r\nThe command completed successfully.\r\n\\\\B x\r\n",
             "A"},
            {"computer named e ends the list", H "\\\\e   remark\r\n\\\\PC2 x\r\n", nullptr},
            {"upper-case E does not close", H "\\\\E   remark\r\n", "E"},
            {"longer word ending in e", H "Done here\r\n", "ne"},
            {"empty file", "", nullptr},
            {"fewer than five lines", "\\\\A x\r\n\\\\B x\r\n\\\\C x\r\n\\\\D x\r\n", nullptr},
            {"mixed line ends", "h1\nh2\r\nh3\nh4\r\n\\\\PC1 x\n\\\\PC2 x\r\nThe end.\n",
             "PC1|PC2"},
            {"no closing line, no line end at the end", H "\\\\PC1 x\r\n\\\\PC2 ", "PC1|PC2"},
            {"closing look-alike in the headings",
             "The\r\nThe end\r\nThe end\r\nThe end\r\n\\\\A x", "A"},
            {"empty names and duplicates kept", H "\r\n\\\\PC1 x\r\n\\\\PC1\r\n\\\\PC1  \r\nxyz",
             "|PC1||PC1|"},
            {"code page 1252", H "\\\\CAF\xC9 x\r\n\\\\\x80URO x\r\n", "CAF\u00C9|\u20ACURO"},
            {"stray CR inside a line stays", H "\\\\A\rB x\r\n", "A\rB"},
        };
#undef H
        for (const auto& r : rows)
            QTest::newRow(r.tag) << QByteArray(r.bytes)
                                 << (r.names ? QString::fromUtf8(r.names).split(u'|')
                                             : QStringList());
    }
    void parse() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QCOMPARE(Listing::parse(bytes), names);
    }
    void runner() {
        QTemporaryDir dir;
        auto* process = new test::FakeRunner;
        process->listing = listingOf({"PC1", "pc2"});
        ListingRunner runner(dir.path(), std::unique_ptr<ProcessRunner>(process));
        QSignalSpy finished(&runner, &ListingRunner::finished);
        QSignalSpy failed(&runner, &ListingRunner::failed);
        QVERIFY(runner.start());
        QVERIFY(runner.isRunning() && !runner.start());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toStringList(), (QStringList{"PC1", "pc2"}));
        QVERIFY(!runner.isRunning() && process->starts == 1);
        process->listing = listingOf({"PC3"});
        process->exitCode = 1;
        QCOMPARE(runner.runAndWait(), QStringList{"PC3"});

        QVERIFY(QFile::remove(runner.listingPath()));
        process->listing = QByteArray();
        QVERIFY(runner.start());
        QVERIFY(failed.wait(5000));
        QVERIFY(failed.first().first().toString().startsWith("File not found"));
        QVERIFY(finished.size() == 2 && !runner.isRunning());
        QVERIFY(QDir(dir.path()).mkdir("net.txt"));
        QVERIFY_THROWS_EXCEPTION(Error, runner.runAndWait());
        QTemporaryDir empty;
        ListingRunner withoutBatch(empty.path());
        QVERIFY(test::outcome([&] {
                    return withoutBatch.runAndWait().join(' ');
                }).startsWith("error: File not found"));
    }
    void runnerRunsRealScript() {
        QTemporaryDir dir;
        // Relative paths prove the folder; $0 proves how it was started; its input and output
        // go nowhere, so no pipe can fill; the pause proves that the caller's event loop keeps
        // running meanwhile.
        test::writeBytes(dir.filePath("netview.sh"), // not executable
                         "sleep 0.3\n"
                         "fds=$(readlink /proc/$$/fd/[012])\n"
                         "for n in h h h h \"$(basename \"$0\")\" $fds; do\n"
                         "  printf '\\\\\\\\%s by sh\\r\\n' \"$n\"; done > net.txt.part\n"
                         "mv net.txt.part net.txt\n"
                         "exit 3\n");
        ListingRunner runner(dir.path());
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runner.runAndWait(),
                 (QStringList{"netview.sh", "/dev/null", "/dev/null", "/dev/null"}));
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY2(ticks >= 5, "the event loop was not serviced while the batch ran");
    }
    // Up hosts as "name/address/ipv6", in scan order; damaged or foreign files are refused whole.
    void nmapParse_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("hosts");
        const QByteArray down = "<host><status state=\"down\" reason=\"no-response\"/>\n"
                                "<address addr=\"10.0.0.4\" addrtype=\"ipv4\"/>\n</host>\n";
        QTest::newRow("names, none, own address")
            << nmapXml(
                   nmapHost("10.0.0.2", {"pc1.lab.test"}) + nmapHost("10.0.0.3") +
                   "<host><status state=\"up\" reason=\"localhost-response\"/>\n<address "
                   "addr=\"10.0.0.1\" addrtype=\"ipv4\"/>\n<hostnames>\n</hostnames>\n</host>\n")
            << "pc1/10.0.0.2/ | /10.0.0.3/ | /10.0.0.1/";
        QTest::newRow("several names: the typed one first")
            << nmapXml(nmapHost("10.0.0.2", {"FileServer", "fs01.corp.example", "alias.corp"}))
            << "FileServer/10.0.0.2/";
        QTest::newRow("IPv6 only, with and without a name")
            << nmapXml(nmapHost("fd00::42", {"dual.lab"}) + nmapHost("fd00:0::43"))
            << "dual//fd00::42 | //fd00::43";
        QTest::newRow("down hosts and a bare domain are left out or nameless")
            << nmapXml(down + nmapHost("10.0.0.5", {".lab.test"}) + down) << "/10.0.0.5/";
        QTest::newRow("a damaged address is not taken")
            << nmapXml(nmapHost("10.0.0.256", {"odd"})) << "odd//";
        QTest::newRow("cut off")
            << nmapXml(nmapHost("10.0.0.2", {"pc1"}), true)
            << "error: scan.xml is damaged or incomplete (line 16: Premature end of document.). "
               "Nothing was read from it.";
        QTest::newRow("nmap failed")
            << QByteArray(nmapXml("").replace("exit=\"success\"",
                                              "exit=\"error\" errormsg=\"Failed to open device\""))
            << "error: nmap reports that its scan failed: Failed to open device";
        QTest::newRow("other XML") << QByteArray("<?xml version=\"1.0\"?><html><host/></html>")
                                   << "error: scan.xml is not an nmap XML scan.";
        QTest::newRow("a listing")
            << listingOf({"PC1"}) << "error: scan.xml is not an nmap XML scan.";
    }
    void nmapParse() {
        QFETCH(QByteArray, xml);
        QFETCH(QString, hosts);
        QCOMPARE(test::outcome([&] {
                     QStringList out;
                     for (const ScannedHost& h : NmapScan::parse(xml, "scan.xml"))
                         out << h.name + '/' + h.address + '/' + h.ipv6;
                     return out.join(" | ");
                 }),
                 hosts);
    }
    // A scan's hosts need no look-up and no pause; known names are skipped as from the listing; a
    // named host without an IPv4 address is looked up; nameless hosts are kept aside.
    void autoFindOverAnNmapScan() {
        Rig rig;
        rig.recordComputers({"PC7"});
        rig.names->hosts = {{"dual", "10.0.0.42"}};
        auto* process = new test::FakeRunner;
        NmapSource nmap(rig.folder.path(), std::unique_ptr<ProcessRunner>(process));
        QVERIFY(rig.find->setSource(nmap));
        nmap.setTargets(NmapSource::targetList(" 10.0.0.0/29\tfs01 "));
        rig.find->setPause(1000);
        QElapsedTimer clock;
        clock.start();
        process->listing = nmapXml(nmapHost("10.0.0.7", {"pc7.lab"}) +
                                   nmapHost("10.0.0.2", {"alpha.lab"}) + nmapHost("10.0.0.3") +
                                   nmapHost("fd00::42", {"dual"}) + nmapHost("10.0.0.5", {"Beta"}));
        QCOMPARE(rig.run({}), (QStringList{"listed 4", "1 pc7", "2 alpha", "alpha = 10.0.0.2",
                                           "3 dual", "resolving dual", "dual = 10.0.0.42", "4 Beta",
                                           "Beta = 10.0.0.5", "finished 1"}));
        QVERIFY2(clock.elapsed() < 2500, "a scanned address was followed by a pause");
        QCOMPARE(process->program + ' ' + process->args.join(' '),
                 "nmap -sn -oX " + nmap.scanPath() + " 10.0.0.0/29 fs01");
        QCOMPARE(rig.find->listedAddresses(),
                 (QStringList{"10.0.0.7", "10.0.0.2", "", "10.0.0.5"}));
        QCOMPARE(rig.find->newComputers().names + rig.find->newComputers().addresses,
                 (QStringList{"alpha", "dual", "Beta", "10.0.0.2", "10.0.0.42", "10.0.0.5"}));
        QCOMPARE(nmap.unnamed(), QStringList{"10.0.0.3"});

        // nmap that leaves no scan ends the run; the scan of the run before is not read again.
        process->exitCode = -1;
        process->listing = QByteArray();
        QCOMPARE(rig.run({}), QStringList{"failed nmap could not be started. Is it "
                                          "installed (package nmap)?"});
        QVERIFY(rig.find->listedNames().isEmpty() && nmap.unnamed().isEmpty());
    }
    // Known names cost no look-up, a dotted-decimal name needs none; each name that needed a
    // look-up, resolved or not, is followed by the pause.
    void autoFindSkipsKnownAndResolvesTheRest() {
        Rig rig;
        rig.recordComputers({"PC7", "Reception"});
        rig.names->hosts = {{"PC71", "10.1.1.71"}, {"PC72", "10.1.1.72"}};
        rig.find->setPause(100);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.run(listingOf({"pc7", "PC71", "RECEPTION", "ghost", "10.0.0.9", "PC72"})),
                 (QStringList{"listed 6", "1 pc7", "2 PC71", "resolving PC71", "PC71 = 10.1.1.71",
                              "3 RECEPTION", "4 ghost", "resolving ghost", "ghost unresolved",
                              "5 10.0.0.9", "resolving 10.0.0.9", "10.0.0.9 = 10.0.0.9", "6 PC72",
                              "resolving PC72", "PC72 = 10.1.1.72", "finished 1"}));
        QVERIFY(clock.elapsed() >= 400);
        const QStringList found{"PC71", "10.0.0.9", "PC72", "10.1.1.71", "10.0.0.9", "10.1.1.72"};
        QCOMPARE(rig.find->newComputers().names + rig.find->newComputers().addresses, found);
        QCOMPARE(rig.names->asked, (QStringList{"PC71", "ghost", "PC72"}));
        QVERIFY(!rig.data->IPTable->isActive() && rig.data->IPTable->indexName().isEmpty());
        // A later look-up through the same resolver is none of the finished run's business.
        QSignalSpy finished(rig.find.get(), &AutoFind::finished);
        QCOMPARE(rig.resolver.resolve("10.0.0.5"), QString("10.0.0.5"));
        QTest::qWait(150);
        QCOMPARE(rig.find->newComputers().names + rig.find->newComputers().addresses, found);
        QVERIFY(finished.isEmpty() && !rig.find->isRunning());
    }
    // A run holds only its own names, and nothing new or a listing error leaves nothing behind
    // (one run at a time is the window's test).
    void autoFindEachRunStartsAfresh() {
        Rig rig;
        rig.recordComputers({"pc1"});
        rig.names->hosts = {{"ONE", "10.0.0.1"}, {"TWO", "10.0.0.2"}};
        rig.find->setPause(150);
        rig.run(listingOf({"ONE", "TWO"}));
        rig.run(listingOf({"TWO"}));
        QCOMPARE(rig.find->listedNames(), QStringList{"TWO"});
        QCOMPARE(rig.find->newComputers().names + rig.find->newComputers().addresses,
                 (QStringList{"TWO", "10.0.0.2"}));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.run(listingOf({"PC1", "Pc1", "pc1", "pC1"})),
                 (QStringList{"listed 4", "1 PC1", "2 Pc1", "3 pc1", "4 pC1", "finished 0"}));
        QVERIFY2(clock.elapsed() < 150, "a known name was followed by a pause");
        QVERIFY(rig.find->newComputers().isEmpty());
        QCOMPARE(rig.run("h\r\nh\r\n\\\\PC9 x\r\n"), (QStringList{"listed 0", "finished 0"}));
        QCOMPARE(rig.names->asked, (QStringList{"ONE", "TWO", "TWO"}));

        rig.run(listingOf({"ONE"}));
        QVERIFY(QFile::remove(rig.listing.listingPath()));
        const QStringList log = rig.run(QByteArray());
        QCOMPARE(log.size(), 1);
        QVERIFY2(log.first().startsWith("failed File not found"), qPrintable(log.first()));
        QVERIFY(!rig.find->isRunning());
        QVERIFY(rig.find->listedNames().isEmpty() && rig.find->newComputers().isEmpty());
        QVERIFY(!rig.data->IPTable->isActive());
    }
    // A store error ends the run with its message, whenever it comes.
    void autoFindStoreErrors_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("open") << "open" << QStringList{"failed open failed"};
        QTest::newRow("contains") << "contains"
                                  << QStringList{"listed 1", "1 NEW", "failed contains failed"};
        QTest::newRow("close") << "close"
                               << QStringList{"listed 1", "1 NEW", "resolving NEW",
                                              "NEW unresolved", "failed close failed"};
    }
    void autoFindStoreErrors() {
        QFETCH(QString, failing);
        QFETCH(QStringList, log);
        struct Failing : KnownNames {
            QString in;
            void fail(const char* what) {
                if (in == what)
                    throw Error(in + " failed");
            }
            void open() override { fail("open"); }
            bool contains(const QString&) override { return fail("contains"), false; }
            void close() override { fail("close"); }
        } known;
        known.in = failing;
        Rig rig;
        rig.find = std::make_unique<AutoFind>(rig.listing, rig.resolver, known);
        QCOMPARE(rig.run(listingOf({"NEW"})), log);
    }
    void addGivesConsecutiveIdsInListOrder_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty table") << QStringList{} << QStringList{"ABC0001", "ABC0002"};
        QTest::newRow("after ABC0041")
            << QStringList{"ABC0041", "ABC0007"} << QStringList{"ABC0042", "ABC0043", "ABC0044"};
        QTest::newRow("past 9999") << QStringList{"ABC9999"} << QStringList{"ABC10000", "ABC10001"};
    }
    // Both ways of choosing the IDs: allocated before each computer, or recorded under the systems
    // table's lock as the window does.
    void addGivesConsecutiveIdsInListOrder() {
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
            QCOMPARE(rig.column("IP.DBF", "SYSID"), expected);
            QCOMPARE(rig.column("SYSTEMS.DBF", "SYSID"), existing + expected);
        }
    }
    // Each computer's address row holds the octets: text between the dots, the rest after the
    // third, empty where a dot is missing.
    void addWritesTheRowsOfEachComputer() {
        Rig rig;
        NewComputers list;
        int n = 0;
        auto allocate = [&] { return QString("X%1").arg(++n); };
        addNewComputers(*rig.data, list, allocate);
        QCOMPARE(n, 0); // an empty list writes nothing
        for (const char* c :
             {"pc-five 10.0.0.5", "Server 192.168.1.200", "odd 1.2.3.4.5", "v 1.2.3"})
            list.append(QString(c).section(' ', 0, 0), QString(c).section(' ', 1));
        addNewComputers(*rig.data, list, allocate);
        QStringList ip;
        for (const test::Row& r : test::rows(rig.box.engine(), "IP.DBF")) {
            for (const char* f : {"SYSID", "IP1", "IP2", "IP3", "IP4", "COMPUTER", "IPSTRING",
                                  "ALIAS1", "ALIAS4", "TYPE", "TYPEDESC"})
                ip << r.value(f);
            ip.last() += '\n';
        }
        QCOMPARE(ip.join(','), QString("X1,10,0,0,5,pc-five,10005,,,,\n,"
                                       "X2,192,168,1,200,Server,1921681200,,,,\n,"
                                       "X3,1,2,3,4.5,odd,1234.5,,,,\n,"
                                       "X4,1,2,3,,v,123,,,,\n"));
        const QList<test::Row> sys = test::rows(rig.box.engine(), "SYSTEMS.DBF");
        QCOMPARE(rig.column("SYSTEMS.DBF", "SYSID"), (QStringList{"X1", "X2", "X3", "X4"}));
        QVERIFY(sys[0]["USERFIRST"].isEmpty() && sys[0]["COMPANY"].isEmpty());
        // DATE holds the day only.
        QCOMPARE(QLocale().toDate(sys[1]["DATE"], QLocale::ShortFormat), QDate::currentDate());
        // An allocation's error stops at that computer, keeping the lists (a store error halfway
        // is the window's test).
        list.append("OTHER", "10.0.0.4");
        QVERIFY_THROWS_EXCEPTION(Error, addNewComputers(*rig.data, list, []() -> QString {
                                     throw Error("'AB-1' is not a valid integer value");
                                 }));
        QVERIFY(list.size() == 1 && test::rows(rig.box.engine(), "IP.DBF").size() == 4);
    }
};

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
    failed += runNetviewTests(argc, argv);
    return failed;
}

#include "test_discovery.moc"
