// The discovery's logic: reading the listing, running the batch, the Auto-Find run, recording
// new computers and comparing the recorded ones with a run's listing. This program also runs the
// resolver, window and netview.sh tests, all inside private mount and network namespaces where
// /etc/hosts, /etc/nsswitch.conf and /etc/resolv.conf are the test's own files (or plainly, with
// the cases that need them skipped).
#include "discoverytest.h"
#include "fixtures.h"
#include "listing.h"
#include "newcomputers.h"
#include "nmapscan.h"
#include "reconcile.h"
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
using namespace qn::reconcile;

namespace {

/// An Auto-Find over a fake batch and name service and a real address table.
struct Rig : test::Seeding {
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
        engine = &box.engine();
        data = std::make_unique<DataModule>(box.engine());
        known = std::make_unique<InventoryNames>(*data);
        find = std::make_unique<AutoFind>(listing, resolver, *known);
        find->setPause(0);
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
    // One batch at a time; a listing that cannot be read, or no batch, is an error (a missing
    // listing is the Auto-Find run's test, the exit code is ignored in the real script's).
    void runner() {
        Rig rig;
        ListingRunner& runner = rig.listing;
        rig.process->listing = listingOf({"PC1", "pc2"});
        QSignalSpy finished(&runner, &ListingRunner::finished);
        QVERIFY(runner.start());
        QVERIFY(runner.isRunning() && !runner.start());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toStringList(), (QStringList{"PC1", "pc2"}));
        QVERIFY(!runner.isRunning() && rig.process->starts == 1);
        QVERIFY(QFile::remove(runner.listingPath()) && QDir(rig.folder.path()).mkdir("net.txt"));
        rig.process->listing = QByteArray();
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
        QTest::newRow("with and without a name")
            << nmapXml(nmapHost("10.0.0.2", {"pc1.lab.test"}) + nmapHost("10.0.0.3"))
            << "pc1/10.0.0.2/ | /10.0.0.3/";
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
        test::recordIp(*rig.engine, {"A1 PC7"});
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
        test::recordIp(*rig.engine, {"A1 PC7", "A2 Reception"});
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
    // Known names, in any letter case, cost neither a look-up nor a pause; a listing error leaves
    // nothing of the run before (one run at a time, and each run's own lists, are the window's).
    void autoFindEachRunStartsAfresh() {
        Rig rig;
        test::recordIp(*rig.engine, {"A1 pc1"});
        rig.names->hosts = {{"ONE", "10.0.0.1"}};
        rig.find->setPause(150);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.run(listingOf({"PC1", "Pc1", "pc1", "pC1"})),
                 (QStringList{"listed 4", "1 PC1", "2 Pc1", "3 pc1", "4 pC1", "finished 0"}));
        QVERIFY2(clock.elapsed() < 150, "a known name was followed by a pause");
        QVERIFY(rig.find->newComputers().isEmpty() && rig.names->asked.isEmpty());

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
    // IDs follow the highest, in list order, recorded under the systems table's lock as the window
    // does. An address row holds the octets: text between the dots, the rest after the third,
    // empty where a dot is missing.
    void addNewComputers_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("computers");
        QTest::addColumn<QStringList>("ip"); // SYSID IP1 IP2 IP3 IP4 COMPUTER IPSTRING
        using L = QStringList;
        QTest::newRow("empty table")
            << L{} << L{"pc-five 10.0.0.5", "Server 192.168.1.200"}
            << L{"ABC0001 10 0 0 5 pc-five 10005", "ABC0002 192 168 1 200 Server 1921681200"};
        QTest::newRow("after ABC0041")
            << L{"ABC0041", "ABC0007"} << L{"odd 1.2.3.4.5", "v 1.2.3", "w 10"}
            << L{"ABC0042 1 2 3 4.5 odd 1234.5", "ABC0043 1 2 3  v 123", "ABC0044 10    w 10"};
    }
    void addNewComputers() {
        QFETCH(QStringList, existing);
        QFETCH(QStringList, computers);
        QFETCH(QStringList, ip);
        Rig rig;
        DataModule& data = *rig.data;
        for (const QString& id : existing)
            rig.put("SYSTEMS.DBF", {{"SYSID", id}});
        NewComputers list;
        int calls = 0;
        const auto record = [&](const WriteRows& write) {
            return ++calls, systemrules::recordSystem(data, "ABC", QString(), write);
        };
        discovery::addNewComputers(data, list, record);
        QCOMPARE(calls, 0); // an empty list writes nothing
        for (const QString& c : computers)
            list.append(c.section(' ', 0, 0), c.section(' ', 1));
        discovery::addNewComputers(data, list, record);
        QVERIFY(list.isEmpty());
        QCOMPARE(rig.column("IP.DBF", "SYSID IP1 IP2 IP3 IP4 COMPUTER IPSTRING"), ip);
        QVERIFY(rig.column("IP.DBF", "ALIAS1 ALIAS4 TYPE TYPEDESC").join("").trimmed().isEmpty());
        const QList<test::Row> sys = rig.rows("SYSTEMS.DBF");
        QCOMPARE(rig.column("SYSTEMS.DBF", "SYSID"), existing + rig.column("IP.DBF", "SYSID"));
        QVERIFY(sys.last()["USERFIRST"].isEmpty() && sys.last()["COMPANY"].isEmpty());
        // DATE holds the day only.
        QCOMPARE(QLocale().toDate(sys.last()["DATE"], QLocale::ShortFormat), QDate::currentDate());
        // An allocation's error stops at that computer, keeping the lists (a store error halfway
        // is the window's test).
        list.append("OTHER", "10.0.0.4");
        QVERIFY_THROWS_EXCEPTION(Error, discovery::addNewComputers(data, list, []() -> QString {
                                     throw Error("'AB-1' is not a valid integer value");
                                 }));
        QVERIFY(list.size() == 1 && rig.rows("IP.DBF").size() == computers.size());
    }
    // listed: "name" or "name=address the source gave"; answers: "name=address" resolved,
    // "name=" did not resolve, given after toResolve() is read.
    void lists_data() {
        QTest::addColumn<QStringList>("recorded");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("toResolve");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("changed");
        QTest::addColumn<QStringList>("silent");
        QTest::addColumn<QStringList>("unresolved");
        using L = QStringList;
        QTest::newRow("one of several rows matches")
            << L{"A1 pc1 10.0.0.1", "A2 pc1 10.0.1.1"} << L{"pc1"} << L{"pc1"} << L{"pc1=10.0.1.1"}
            << L{} << L{} << L{};
        QTest::newRow("none of several rows matches")
            << L{"A1 pc1 10.0.0.1", "A2 pc1 10.0.1.1", "A3 pc3 10.0.0.3"} << L{"pc1", "pc3"}
            << L{"pc1", "pc3"} << L{"pc1=10.0.2.2", "pc3=10.0.0.3"}
            << L{"A1 10.0.2.2", "A2 10.0.2.2"} << L{} << L{};
        QTest::newRow("case and trailing blanks, prefix is another name")
            << L{"A1 PC7 10.0.0.7", "A2 pc71 10.0.0.71", "A3 Caf\u00e9 10.0.0.8"}
            << L{"pc7  ", "CAF\u00c9", "pc7"} << L{"pc7  ", "CAF\u00c9"}
            << L{"pc7  =10.0.0.9", "CAF\u00c9=10.0.0.8"} << L{"A1 10.0.0.9"}
            << L{"A2 pc71 10.0.0.71"} << L{};
        QTest::newRow("unresolved is neither changed nor silent")
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{"pc1", "pc2"} << L{"pc1", "pc2"}
            << L{"pc1=", "pc2=10.0.0.2"} << L{} << L{} << L{"pc1"};
        QTest::newRow("not looked up yet")
            << L{"A1 pc1 10.0.0.1"} << L{"pc1"} << L{"pc1"} << L{} << L{} << L{} << L{};
        QTest::newRow("addresses from the source, octets with leading zeros")
            << L{"A1 pc1 010.000.000.001", "A2 pc2 10.0.0.2", "A3 pc3 10.0.0.3"}
            << L{"pc1=10.0.0.1", "pc2=10.0.0.9", "pc3", "pc3=10.0.0.3"} << L{} << L{}
            << L{"A2 10.0.0.9"} << L{} << L{};
        QTest::newRow("a name listed at two addresses")
            << L{"A1 pc1 10.0.0.2"} << L{"pc1=10.0.0.1", "pc1=10.0.0.2"} << L{} << L{} << L{} << L{}
            << L{};
        QTest::newRow("rows without a name or address")
            << L{"A1 - 10.0.0.1", "A2 pc2", "A3 pc3 10.0.0.3"} << L{"", "pc2=10.0.0.2"} << L{}
            << L{} << L{"A2 10.0.0.2"} << L{"A3 pc3 10.0.0.3"} << L{};
        QTest::newRow("empty inventory")
            << L{} << L{"pc1", "pc2=10.0.0.2"} << L{} << L{} << L{} << L{} << L{};
        QTest::newRow("empty listing")
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{} << L{} << L{} << L{}
            << L{"A1 pc1 10.0.0.1", "A2 pc2 10.0.0.2"} << L{};
    }
    void lists() {
        QFETCH(QStringList, recorded);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, answers);
        Rig rig;
        test::recordIp(*rig.engine, recorded);
        QStringList names, addresses;
        for (const QString& l : listed) {
            names << l.section(u'=', 0, 0);
            addresses << l.section(u'=', 1);
        }
        Reconciliation rec(names, addresses);
        rec.read(*rig.data);
        QTEST(rec.toResolve(), "toResolve");
        for (const QString& a : answers) {
            const QString address = a.section(u'=', 1);
            address.isEmpty() ? rec.notFound(a.section(u'=', 0, 0))
                              : rec.found(a.section(u'=', 0, 0), address);
        }
        QStringList changed, silent;
        for (const Finding& f : rec.changed())
            changed << f.row.sysId + ' ' + f.found;
        for (qsizetype i = 0; i < rec.silentCount(); ++i) {
            const RecordedRow r = rec.silentRow(i);
            silent << r.sysId + ' ' + r.computer + ' ' + r.address;
        }
        QTEST(changed, "changed");
        QTEST(silent, "silent");
        QTEST(rec.unresolved(), "unresolved");
        QVERIFY(!rig.data->IPTable->isActive());
    }
    // The chosen row moves to its found address unless another row holds it, the row changed
    // since it was read or the address is none (-1: refused with an error); its key follows.
    void update_data() {
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("meanwhile"); // a row recorded or edited after the read
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("stored");
        const QStringList before{"A1 10 0 0 1 10001", "A2 1 11 1 1 11111"};
        QTest::newRow("free") << "10.0.0.9"
                              << "" << int(UpdateOutcome::Updated)
                              << QStringList{"A1 10 0 0 9 10009", "A2 1 11 1 1 11111"};
        QTest::newRow("held by another system") << "1.11.1.1"
                                                << "" << int(UpdateOutcome::Taken) << before;
        QTest::newRow("same key, other octets")
            << "11.1.1.1"
            << "" << int(UpdateOutcome::Updated)
            << QStringList{"A1 11 1 1 1 11111", "A2 1 11 1 1 11111"};
        QTest::newRow("recorded meanwhile") << "10.0.0.9"
                                            << "A3 pc3 10.0.0.9" << int(UpdateOutcome::Taken)
                                            << (before + QStringList{"A3 10 0 0 9 10009"});
        QTest::newRow("not an address") << "10.0.0.256"
                                        << "" << -1 << before;
        QTest::newRow("moved meanwhile") << "10.0.0.9"
                                         << "edit" << int(UpdateOutcome::Moved)
                                         << QStringList{"A1 10 0 0 5 10005", "A2 1 11 1 1 11111"};
    }
    void update() {
        QFETCH(QString, found);
        QFETCH(QString, meanwhile);
        Rig rig;
        test::recordIp(*rig.engine, {"A1 pc1 10.0.0.1", "A2 pc2 1.11.1.1"});
        Reconciliation rec({"pc1"}, {found});
        rec.read(*rig.data);
        QCOMPARE(rec.changed().size(), size_t(1));
        if (meanwhile == "edit") {
            test::editRow(*rig.box.open("IP.DBF"), {{"IP4", "5"}, {"IPString", "10005"}});
        } else if (!meanwhile.isEmpty()) {
            test::recordIp(*rig.engine, {meanwhile});
        }
        int outcome = -1;
        try {
            outcome = int(updateAddress(*rig.data, rec.changed()[0]));
        } catch (const Error&) {
        }
        QTEST(outcome, "outcome");
        QTEST(rig.column("IP.DBF", "SYSID IP1 IP2 IP3 IP4 IPSTRING"), "stored");
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
