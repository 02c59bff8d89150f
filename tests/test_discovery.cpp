#include "autofind.h"
#include "datamodule.h"
#include "error.h"
#include "listing.h"
#include "listingrunner.h"
#include "newcomputers.h"
#include "resolver.h"
#include "table.h"
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

using namespace qn;
using namespace qn::discovery;

namespace {

const QByteArray headings = "Server Name            Remark\r\n"
                            "\r\n"
                            "--------------------------------------------------\r\n"
                            "\\\\HEADING   a name in the headings is not listed\r\n";
const QByteArray closing = "The command completed successfully.\r\n";

QByteArray listingOf(const QStringList& names) {
    QByteArray b = headings;
    for (const QString& n : names)
        b += "\\\\" + n.toLatin1() + "          remark\r\n";
    return b + closing;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

/// Stands in for the listing batch: leaves a prepared listing and ends from the event loop.
class FakeProcessRunner : public ProcessRunner {
public:
    QByteArray listing; // written as net.txt unless null
    int exitCode = 0;
    int starts = 0;
    QString program, workingDirectory;
    QStringList args;

    void start(const QString& prog, const QStringList& a, const QString& dir) override {
        ++starts;
        program = prog;
        args = a;
        workingDirectory = dir;
        m_running = true;
        QTimer::singleShot(0, this, [this] {
            if (!listing.isNull())
                writeFile(QDir(workingDirectory).filePath("net.txt"), listing);
            m_running = false;
            emit finished(exitCode);
        });
    }
    bool isRunning() const override { return m_running; }

private:
    bool m_running = false;
};

/// A host-name service with a fixed table, answering from the event loop.
class FakeNameService : public NameService {
public:
    std::map<QString, QString> hosts; // name -> address
    QStringList asked;

    int lookup(const QString& name, QObject* context,
               std::function<void(const QHostInfo&)> done) override {
        asked << name;
        QHostInfo info;
        auto it = hosts.find(name);
        if (it == hosts.end()) {
            info.setError(QHostInfo::HostNotFound);
        } else {
            info.setAddresses({QHostAddress(it->second)});
        }
        QTimer::singleShot(0, context, [done, info] { done(info); });
        return ++m_id;
    }
    void abort(int) override {}

private:
    int m_id = 0;
};

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    void cutName_data();
    void cutName();
    void parse_data();
    void parse();
    void readFileErrors();

    void runnerStartsBatchInWorkingFolder();
    void runnerReadsListingWhateverTheExitCode();
    void runnerReportsMissingListing();
    void runnerRunsRealScript();
    void runnerWithoutBatchReportsMissingListing();

    void autoFindSkipsKnownAndResolvesTheRest();
    void autoFindPausesOnlyAfterLookups();
    void autoFindWithNothingNew();
    void autoFindSecondRunHoldsOnlyItsOwnNames();
    void autoFindRefusesSecondStart();
    void autoFindListingErrorEndsRun();

    void octets_data();
    void octets();
    void addGivesConsecutiveIdsInListOrder_data();
    void addGivesConsecutiveIdsInListOrder();
    void addWritesTheRowsOfEachComputer();
    void addWithEmptyListsWritesNothing();
    void addStopsAtAnErrorKeepingTheLists();

private:
    struct Rig {
        QTemporaryDir folder;
        FakeProcessRunner* process = nullptr;
        std::unique_ptr<ListingRunner> listing;
        FakeNameService* names = nullptr;
        std::unique_ptr<Resolver> resolver;
        test::Sandbox box;
        std::unique_ptr<DataModule> data;
        std::unique_ptr<InventoryNames> known;
        std::unique_ptr<AutoFind> find;

        Rig() {
            auto p = std::make_unique<FakeProcessRunner>();
            process = p.get();
            listing = std::make_unique<ListingRunner>(folder.path(), std::move(p));
            auto n = std::make_unique<FakeNameService>();
            names = n.get();
            resolver = std::make_unique<Resolver>(std::move(n));
            box.createInventory();
            data = std::make_unique<DataModule>(box.engine());
            known = std::make_unique<InventoryNames>(*data);
            find = std::make_unique<AutoFind>(*listing, *resolver, *known);
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
            connect(find.get(), &AutoFind::listingRead, &ctx,
                    [&](int n) { log << QString("listed %1").arg(n); });
            connect(find.get(), &AutoFind::nameStarted, &ctx,
                    [&](int pos, const QString& n) { log << QString("%1 %2").arg(pos).arg(n); });
            connect(find.get(), &AutoFind::resolving, &ctx,
                    [&](const QString& n) { log << "resolving " + n; });
            connect(find.get(), &AutoFind::resolved, &ctx,
                    [&](const QString& n, const QString& a) { log << n + " = " + a; });
            connect(find.get(), &AutoFind::unresolved, &ctx,
                    [&](const QString& n) { log << n + " unresolved"; });
            connect(find.get(), &AutoFind::failed, &ctx,
                    [&](const QString& m) { log << "failed " + m; });
            QSignalSpy done(find.get(), &AutoFind::finished);
            QEventLoop loop;
            connect(find.get(), &AutoFind::finished, &loop, &QEventLoop::quit);
            connect(find.get(), &AutoFind::failed, &loop, &QEventLoop::quit);
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
    QStringList columnOf(Table* t, const QString& field);
    static QString allocateLikeAddNewSystem(DataModule& data, const QString& prefix);
};

void TestDiscovery::cutName_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isClosing");
    QTest::newRow("usual") << "\\\\PC1                  Reception"
                           << "PC1" << false;
    QTest::newRow("no remark") << "\\\\PC1 "
                               << "PC1" << false;
    QTest::newRow("no space at all") << "\\\\PC1"
                                     << "" << false;
    QTest::newRow("empty line") << ""
                                << "" << false;
    QTest::newRow("shorter than three") << "ab"
                                        << "" << false;
    QTest::newRow("space as second char") << "a bcd"
                                          << "" << false;
    QTest::newRow("space as third char") << "ab cd"
                                         << "" << false;
    QTest::newRow("space as fourth char") << "abX rest"
                                          << "X" << false;
    QTest::newRow("any two leading chars") << "--NAME x"
                                           << "NAME" << false;
    QTest::newRow("tab is not a space") << "\\\\PC1\tremark x"
                                        << "PC1\tremark" << false;
    QTest::newRow("first space wins") << "\\\\A B C"
                                      << "A" << false;
    QTest::newRow("letter case kept") << "\\\\pc-7.Lan x"
                                      << "pc-7.Lan" << false;
    QTest::newRow("closing sentence") << "The command completed successfully."
                                      << "e" << true;
    QTest::newRow("any three-letter word ending in e") << "One more thing"
                                                       << "e" << true;
    QTest::newRow("computer named e") << "\\\\e   remark"
                                      << "e" << true;
    QTest::newRow("upper-case E does not close") << "\\\\E   remark"
                                                 << "E" << false;
    QTest::newRow("word without a space does not close") << "The"
                                                         << "" << false;
    QTest::newRow("longer word ending in e") << "Done here"
                                             << "ne" << false;
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

void TestDiscovery::readFileErrors() {
    QTemporaryDir dir;
    const QString missing = dir.filePath("net.txt");
    try {
        Listing::readFile(missing);
        QFAIL("a missing listing was read");
    } catch (const Error& e) {
        QVERIFY2(e.message().startsWith("File not found"), qPrintable(e.message()));
    }
    QVERIFY(QDir(dir.path()).mkdir("net.txt")); // exists but is no file
    QVERIFY_THROWS_EXCEPTION(Error, Listing::readFile(missing));

    writeFile(dir.filePath("ok.txt"), listingOf({"A"}));
    QCOMPARE(Listing::readFile(dir.filePath("ok.txt")), QStringList{"A"});
}

void TestDiscovery::runnerStartsBatchInWorkingFolder() {
    QTemporaryDir dir;
    auto fake = std::make_unique<FakeProcessRunner>();
    FakeProcessRunner* process = fake.get();
    process->listing = listingOf({"PC1", "pc2"});
    ListingRunner runner(dir.path(), std::move(fake));
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

    // A later run reads the listing afresh.
    process->listing = listingOf({"PC3"});
    QCOMPARE(runner.runAndWait(), QStringList{"PC3"});
}

void TestDiscovery::runnerReadsListingWhateverTheExitCode() {
    QTemporaryDir dir;
    auto fake = std::make_unique<FakeProcessRunner>();
    fake->listing = listingOf({"PC1"});
    fake->exitCode = 1;
    ListingRunner runner(dir.path(), std::move(fake));
    QCOMPARE(runner.runAndWait(), QStringList{"PC1"});
}

void TestDiscovery::runnerReportsMissingListing() {
    QTemporaryDir dir;
    ListingRunner runner(dir.path(), std::make_unique<FakeProcessRunner>());
    QSignalSpy failed(&runner, &ListingRunner::failed);
    QSignalSpy finished(&runner, &ListingRunner::finished);
    QVERIFY(runner.start());
    QVERIFY(failed.wait(5000));
    QVERIFY(failed.first().first().toString().startsWith("File not found"));
    QCOMPARE(finished.size(), 0);
    QVERIFY(!runner.isRunning());
    QVERIFY_THROWS_EXCEPTION(Error, runner.runAndWait());
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

void TestDiscovery::runnerWithoutBatchReportsMissingListing() {
    QTemporaryDir dir;
    ListingRunner runner(dir.path());
    try {
        runner.runAndWait();
        QFAIL("no error without a batch");
    } catch (const Error& e) {
        QVERIFY(e.message().startsWith("File not found"));
    }
}

void TestDiscovery::autoFindSkipsKnownAndResolvesTheRest() {
    Rig rig;
    rig.recordComputer("A0001", "PC7");
    rig.recordComputer("A0002", "Reception");
    rig.process->listing = listingOf({"pc7", "PC71", "RECEPTION", "ghost", "10.0.0.9", "PC72"});
    rig.names->hosts = {{"PC71", "10.1.1.71"}, {"PC72", "10.1.1.72"}};

    const QStringList log = rig.run();
    QCOMPARE(log, (QStringList{"listed 6", "1 pc7", "2 PC71", "resolving PC71", "PC71 = 10.1.1.71",
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

void TestDiscovery::autoFindWithNothingNew() {
    Rig rig;
    rig.recordComputer("A0001", "pc1");
    rig.process->listing = listingOf({"PC1", "Pc1"});
    QCOMPARE(rig.run(), (QStringList{"listed 2", "1 PC1", "2 Pc1", "finished 0"}));
    QVERIFY(rig.find->newComputers().isEmpty());

    rig.process->listing = "h\r\nh\r\n\\\\PC9 x\r\n";
    QCOMPARE(rig.run(), (QStringList{"listed 0", "finished 0"}));
    QVERIFY(rig.names->asked.isEmpty());
}

void TestDiscovery::autoFindSecondRunHoldsOnlyItsOwnNames() {
    Rig rig;
    rig.names->hosts = {{"ONE", "10.0.0.1"}, {"TWO", "10.0.0.2"}};
    rig.process->listing = listingOf({"ONE"});
    rig.run();
    QCOMPARE(rig.find->listedNames(), QStringList{"ONE"});
    QCOMPARE(rig.find->newComputers().names, QStringList{"ONE"});
    rig.process->listing = listingOf({"TWO"});
    rig.run();
    QCOMPARE(rig.find->listedNames(), QStringList{"TWO"});
    QCOMPARE(rig.find->newComputers().names, QStringList{"TWO"});
    QCOMPARE(rig.find->newComputers().addresses, QStringList{"10.0.0.2"});
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

void TestDiscovery::autoFindListingErrorEndsRun() {
    Rig rig;
    rig.names->hosts = {{"ONE", "10.0.0.1"}};
    rig.process->listing = listingOf({"ONE"});
    rig.run();
    QVERIFY(!rig.find->newComputers().isEmpty());

    QVERIFY(QFile::remove(rig.listing->listingPath()));
    rig.process->listing = QByteArray();
    const QStringList log = rig.run();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().startsWith("failed File not found"), qPrintable(log.first()));
    QVERIFY(!rig.find->isRunning());
    QVERIFY(rig.find->listedNames().isEmpty());
    QVERIFY(rig.find->newComputers().isEmpty());
    QVERIFY(!rig.data->IPTable->isActive());
}

void TestDiscovery::octets_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("key");
    QTest::newRow("10.0.0.5") << "10.0.0.5" << QStringList{"10", "0", "0", "5"} << "10005";
    QTest::newRow("three digits") << "192.168.100.254" << QStringList{"192", "168", "100", "254"}
                                  << "192168100254";
    QTest::newRow("two dots") << "1.2.3" << QStringList{"1", "2", "3", ""} << "123";
    QTest::newRow("rest after the third dot")
        << "1.2.3.4.5" << QStringList{"1", "2", "3", "4.5"} << "1234.5";
    QTest::newRow("empty") << "" << QStringList{"", "", "", ""} << "";
}

void TestDiscovery::octets() {
    QFETCH(QString, address);
    QFETCH(QStringList, parts);
    QFETCH(QString, key);
    const Octets o = Octets::split(address);
    QCOMPARE((QStringList{o.ip1, o.ip2, o.ip3, o.ip4}), parts);
    QCOMPARE(o.key(), key);
}

QStringList TestDiscovery::columnOf(Table* t, const QString& field) {
    QStringList out;
    for (t->first(); !t->eof(); t->next())
        out << t->fieldText(field);
    return out;
}

// The allocation the Add New System window uses, reduced to what these tests need: the last
// System ID in SysID order plus one.
QString TestDiscovery::allocateLikeAddNewSystem(DataModule& data, const QString& prefix) {
    data.SysTableOpenClose("SYSID", "", false, true);
    int number = 1;
    if (data.SysTable->recordCount() > 0) {
        data.SysTable->last();
        bool ok = false;
        number = data.SysTable->fieldText("SYSID").mid(3, 4).toInt(&ok) + 1;
        if (!ok)
            throw Error("not a number");
    }
    data.SysTableOpenClose("", "", false, false);
    return prefix + QString::number(number).rightJustified(4, u'0');
}

void TestDiscovery::addGivesConsecutiveIdsInListOrder_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty table") << QStringList{} << QStringList{"ABC0001", "ABC0002"};
    QTest::newRow("after ABC0041")
        << QStringList{"ABC0041", "ABC0007"} << QStringList{"ABC0042", "ABC0043", "ABC0044"};
}

void TestDiscovery::addGivesConsecutiveIdsInListOrder() {
    QFETCH(QStringList, existing);
    QFETCH(QStringList, expected);
    test::Sandbox box;
    box.createInventory();
    DataModule data(box.engine());
    data.SysTableOpenClose("", "", false, true);
    for (const QString& id : existing) {
        data.SysTable->append();
        data.SysTable->setFieldText("SYSID", id);
        data.SysTable->post();
    }
    data.SysTableOpenClose("", "", false, false);

    NewComputers list;
    for (int i = 0; i < expected.size(); ++i)
        list.append(QString("PC%1").arg(i), QString("10.0.0.%1").arg(i));
    addNewComputers(data, list, [&] { return allocateLikeAddNewSystem(data, "ABC"); });
    QVERIFY(list.isEmpty());

    data.IPTableOpenClose("", "", false, true);
    QCOMPARE(columnOf(data.IPTable, "SYSID"), expected);
    data.IPTableOpenClose("", "", false, false);
    data.SysTableOpenClose("", "", false, true);
    QCOMPARE(columnOf(data.SysTable, "SYSID"), existing + expected);
    data.SysTableOpenClose("", "", false, false);
}

void TestDiscovery::addWritesTheRowsOfEachComputer() {
    test::Sandbox box;
    box.createInventory();
    DataModule data(box.engine());
    NewComputers list;
    list.append("pc-five", "10.0.0.5");
    list.append("Server", "192.168.1.200");
    int n = 0;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    addNewComputers(data, list, [&] { return QString("X%1").arg(++n); });

    data.IPTableOpenClose("", "", false, true);
    Table* ip = data.IPTable;
    QCOMPARE(ip->recordCount(), 2);
    ip->first();
    const QStringList fields{"SYSID", "IP1", "IP2", "IP3", "IP4", "COMPUTER", "IPSTRING"};
    auto row = [&] {
        QStringList r;
        for (const QString& f : fields)
            r << ip->fieldText(f);
        for (const char* f : {"ALIAS1", "ALIAS4", "TYPE", "TYPEDESC"})
            if (!ip->fieldText(f).isEmpty())
                r << QString(f) + " not empty";
        return r;
    };
    QCOMPARE(row(), (QStringList{"X1", "10", "0", "0", "5", "pc-five", "10005"}));
    ip->next();
    QCOMPARE(row(), (QStringList{"X2", "192", "168", "1", "200", "Server", "1921681200"}));
    data.IPTableOpenClose("", "", false, false);

    data.SysTableOpenClose("", "", false, true);
    Table* sys = data.SysTable;
    QCOMPARE(columnOf(sys, "SYSID"), (QStringList{"X1", "X2"}));
    sys->first();
    QCOMPARE(sys->fieldText("USERFIRST"), QString());
    QCOMPARE(sys->fieldText("COMPANY"), QString());
    // DATE holds the day only.
    const QDate stored = QLocale().toDate(sys->fieldText("DATE"), QLocale::ShortFormat);
    QVERIFY2(stored.isValid() && stored >= before.date() && stored <= QDate::currentDate(),
             qPrintable(sys->fieldText("DATE")));
    data.SysTableOpenClose("", "", false, false);
}

void TestDiscovery::addWithEmptyListsWritesNothing() {
    test::Sandbox box;
    box.createInventory();
    DataModule data(box.engine());
    NewComputers list;
    bool asked = false;
    addNewComputers(data, list, [&] {
        asked = true;
        return QString("X");
    });
    QVERIFY(!asked);
    data.IPTableOpenClose("", "", false, true);
    QCOMPARE(data.IPTable->recordCount(), 0);
    data.IPTableOpenClose("", "", false, false);
}

void TestDiscovery::addStopsAtAnErrorKeepingTheLists() {
    test::Sandbox box;
    box.createInventory();
    DataModule data(box.engine());
    NewComputers list;
    list.append("FIRST", "10.0.0.1");
    list.append(QString(31, u'L'), "10.0.0.2"); // one more than COMPUTER holds
    list.append("THIRD", "10.0.0.3");
    int n = 0;
    QVERIFY_THROWS_EXCEPTION(StoreError,
                             addNewComputers(data, list, [&] { return QString("X%1").arg(++n); }));
    QCOMPARE(n, 2);
    QCOMPARE(list.size(), 3);
    QVERIFY(!data.IPTable->isActive());
    data.IPTableOpenClose("", "", false, true);
    QCOMPARE(columnOf(data.IPTable, "COMPUTER"), QStringList{"FIRST"});
    data.IPTableOpenClose("", "", false, false);
    data.SysTableOpenClose("", "", false, true);
    QCOMPARE(columnOf(data.SysTable, "SYSID"), QStringList{"X1"});
    data.SysTableOpenClose("", "", false, false);

    // The allocation's own error stops the same way.
    list.clear();
    list.append("OTHER", "10.0.0.4");
    QVERIFY_THROWS_EXCEPTION(Error, addNewComputers(data, list, []() -> QString {
                                 throw Error("'AB-1' is not a valid integer value");
                             }));
    QCOMPARE(list.size(), 1);
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
