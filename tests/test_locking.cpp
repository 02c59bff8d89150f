// Several processes on one table: appends, edits and ID allocation under the dBASE locks,
// caches that follow changes made elsewhere, locks that die with their process, and tables
// that survive a writer killed at any instant; the same again with the workers' file calls
// slowed as on a network drive (tests/qnslow.cpp), and which network mounts are refused.
#include "engine.h"
#include "error.h"
#include "mounts.h"
#include "table.h"
#include "tablefile.h"
#include "tablelock.h"
#include "testutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <set>

using namespace qn;

class TestLocking : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void concurrentAppendsLoseNothing_data();
    void concurrentAppendsLoseNothing();
    void appendDuringAnotherOpenLosesNothing();
    void tableLockMakesFindAndAppendAtomic();
    void editedRowIsLockedAgainstOtherProcesses_data();
    void editedRowIsLockedAgainstOtherProcesses();
    void rowChangedElsewhereIsReadBeforeEdit();
    void locksDieWithTheirProcess();

    void cachesFollowChangesMadeElsewhere_data();
    void cachesFollowChangesMadeElsewhere();
    void nestedLocksKeepTheOuterOne();

    void twoProcessesRecordDistinctSystemIds_data();
    void twoProcessesRecordDistinctSystemIds();
    void killedAppenderLosesNoCommittedRow_data();
    void killedAppenderLosesNoCommittedRow();
    void unsafeMountsAreRefused_data();
    void unsafeMountsAreRefused();
    void disagreeingIndexIsRebuiltWithNotice_data();
    void disagreeingIndexIsRebuiltWithNotice();
};

namespace {

void expectError(const std::function<void()>& action, const QString& part) {
    try {
        action();
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(part), qPrintable(e.message()));
        return;
    }
    QFAIL(qPrintable("no error; expected one mentioning " + part));
}

QString workerPath() {
    return test::buildDir() + QStringLiteral("/tools/store_worker");
}

// The sanitizer build runs every latency case, with fewer rows.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;
#else
constexpr int kScale = 1;
#endif

// Workers started while this is set get their table file calls slowed: "500" µs each, or a
// random "0-2000". Reads answer late (the answer is old when seen), locks are taken late.
QString g_latency;
QStringList g_shimEnv; // more QNSLOW_ settings for the next worker

// A worker process; its environment carries the lock timeout under test.
std::unique_ptr<QProcess> startWorker(const QStringList& args, int lockTimeoutMs = 10000) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLNET_LOCK_TIMEOUT_MS"), QString::number(lockTimeoutMs));
    if (!g_latency.isEmpty() || !g_shimEnv.isEmpty()) {
        env.insert(QStringLiteral("LD_PRELOAD"),
                   test::buildDir() + QStringLiteral("/tests/qnslow.so"));
        env.insert(QStringLiteral("QNSLOW_CALLS"), QStringLiteral("fstat,stat,pread,fcntl"));
        env.insert(QStringLiteral("QNSLOW_US"), g_latency);
        env.insert(QStringLiteral("ASAN_OPTIONS"), env.value(QStringLiteral("ASAN_OPTIONS")) +
                                                       QStringLiteral(":verify_asan_link_order=0"));
        for (const QString& kv : g_shimEnv)
            env.insert(kv.section(u'=', 0, 0), kv.section(u'=', 1));
    }
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(workerPath(), args);
    if (!p->waitForStarted(10000))
        qWarning() << "cannot start" << workerPath();
    return p;
}

// Waits for a line of the worker's output; the line or empty if it ended first.
QString waitForLine(QProcess& p, int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!p.canReadLine() && clock.elapsed() < ms && p.state() != QProcess::NotRunning)
        p.waitForReadyRead(100);
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

// The last line the worker wrote once it ended; warns if it exits other than expected.
QString finish(QProcess& p, int expectedExit = 0) {
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(60000))
        qWarning() << "worker did not end";
    QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().split(u'\n').last();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != expectedExit)
        qWarning().noquote() << "worker exit" << p.exitCode() << out << p.readAllStandardError();
    return out;
}

std::unique_ptr<Table> openIp(Engine& engine, const QString& tag = {}) {
    auto t = std::make_unique<Table>(engine);
    t->setDatabaseName(QStringLiteral("IP"));
    t->setTableName(QStringLiteral("IP.DBF"));
    t->setIndexName(tag);
    t->open();
    return t;
}

void appendRow(Table& t, const QString& sysId, const QString& computer) {
    t.append();
    t.setFieldText(QStringLiteral("SYSID"), sysId);
    t.setFieldText(QStringLiteral("COMPUTER"), computer);
    t.setFieldText(QStringLiteral("IPSTRING"), sysId.right(3));
    t.post();
}

void goToRecord(Table& t, uint32_t recno) {
    for (t.first(); !t.eof() && t.recNo() != recno; t.next()) {
    }
    QCOMPARE(t.recNo(), recno);
}

} // namespace

void TestLocking::init() {
    setLockTimeout(std::chrono::milliseconds(10000));
}
void TestLocking::cleanup() {
    qunsetenv("QUILLNET_NO_HEADER_MAP");
    g_latency.clear();
    g_shimEnv.clear();
}

// Latency cases run twice each: a race shows in some runs only.
void addLatencyRows(const std::function<void(const char*, const QString&)>& row) {
    row("no delay", {});
    for (const char* run : {"run 1", "run 2"}) {
        row(qPrintable(QStringLiteral("0.5 ms, %1").arg(QLatin1String(run))),
            QStringLiteral("500"));
        row(qPrintable(QStringLiteral("0-2 ms, %1").arg(QLatin1String(run))),
            QStringLiteral("0-2000"));
    }
}

void TestLocking::concurrentAppendsLoseNothing_data() {
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("latency");
    QTest::newRow("2 x 5000") << 2 << 5000 << QString();
    QTest::newRow("4 x 1500") << 4 << 1500 << QString();
    addLatencyRows([](const char* name, const QString& latency) {
        if (!latency.isEmpty())
            QTest::newRow(qPrintable(QStringLiteral("2 x 300, ") + QLatin1String(name)))
                << 2 << 300 / kScale << latency;
    });
}

// Every row of every appender once, the header count equal to the rows, and every tag a
// sound tree holding exactly the keys of the rows; a reader in this process meanwhile never
// fails and never sees the count go back.
void TestLocking::concurrentAppendsLoseNothing() {
    QFETCH(int, workers);
    QFETCH(int, rows);
    QFETCH(QString, latency);
    g_latency = latency;
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = 0; w < workers; ++w)
        procs.push_back(startWorker(
            {QStringLiteral("append"), dbf, QString::number(rows), QStringLiteral("W%1").arg(w)}));
    {
        auto reader = openIp(box.engine(), QStringLiteral("SYSID"));
        int seen = 0;
        auto running = [&] {
            for (auto& p : procs)
                if (p->state() != QProcess::NotRunning)
                    return true;
            return false;
        };
        while (running()) {
            int n = reader->recordCount();
            QVERIFY2(n >= seen, qPrintable(QStringLiteral("%1 rows after %2").arg(n).arg(seen)));
            seen = n;
            reader->setKey();
            reader->setFieldText(QStringLiteral("SYSID"), QStringLiteral("W0-1"));
            if (reader->gotoKey())
                QCOMPARE(reader->fieldText(QStringLiteral("COMPUTER")), QStringLiteral("pc-W0-1"));
            for (auto& p : procs)
                p->waitForFinished(1);
        }
        QVERIFY(seen > 0);
    }
    for (auto& p : procs)
        QCOMPARE(finish(*p), QStringLiteral("done"));

    Engine fresh(box.path() + QStringLiteral("/check.cfg"));
    TableFile file(dbf);
    QCOMPARE(file.dbf().headerCount(), uint32_t(workers * rows));
    QCOMPARE(file.dbf().recordCount(), uint32_t(workers * rows));
    std::map<QString, int> ids;
    const DbfField& f = file.fields()[size_t(file.dbf().fieldIndex("SYSID"))];
    for (uint32_t r = 1; r <= file.dbf().recordCount(); ++r) {
        const char* rec = file.dbf().record(r);
        QVERIFY(DbfFile::isLive(rec));
        ++ids[QString::fromLatin1(rec + f.offset, f.length).trimmed()];
    }
    QCOMPARE(int(ids.size()), workers * rows);
    for (int w = 0; w < workers; ++w)
        for (int n = 1; n <= rows; n += 97)
            QCOMPARE(ids[QStringLiteral("W%1-%2").arg(w).arg(n)], 1);
    file.verifyIndexes();
}

// A worker opens the table while this process appends a row between the worker's size and
// header reads (its fstat answers 0.3 s late): the worker's own rows then go after that row,
// none over it.
void TestLocking::appendDuringAnotherOpenLosesNothing() {
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    auto mine = openIp(box.engine(), QStringLiteral("SYSID"));
    appendRow(*mine, QStringLiteral("M1"), QStringLiteral("mine"));
    g_shimEnv = {QStringLiteral("QNSLOW_CALLS=fstat"), QStringLiteral("QNSLOW_US=300000"),
                 QStringLiteral("QNSLOW_TELL=1"), QStringLiteral("QNSLOW_MATCH=.dbf")};
    auto w = startWorker({QStringLiteral("append"), dbf, QStringLiteral("3"), QStringLiteral("W")});
    w->setReadChannel(QProcess::StandardError);
    QVERIFY2(waitForLine(*w).startsWith(QStringLiteral("qnslow: fstat")), "no delayed fstat");
    appendRow(*mine, QStringLiteral("M2"), QStringLiteral("mine"));
    w->setReadChannel(QProcess::StandardOutput);
    QCOMPARE(finish(*w), QStringLiteral("done"));

    TableFile file(dbf);
    QCOMPARE(file.dbf().recordCount(), 5u);
    std::set<QString> ids;
    const DbfField& f = file.fields()[size_t(file.dbf().fieldIndex("SYSID"))];
    for (uint32_t r = 1; r <= 5; ++r)
        ids.insert(QString::fromLatin1(file.dbf().record(r) + f.offset, f.length).trimmed());
    QCOMPARE(ids, (std::set<QString>{"M1", "M2", "W-1", "W-2", "W-3"}));
    file.verifyIndexes();
}

// Three processes take "the highest ID plus one" under the table lock: no ID twice, none skipped.
void TestLocking::tableLockMakesFindAndAppendAtomic() {
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    const int workers = 3, each = 150;
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = 0; w < workers; ++w)
        procs.push_back(startWorker({QStringLiteral("allocate"), dbf, QString::number(each)}));
    for (auto& p : procs)
        QCOMPARE(finish(*p), QStringLiteral("done"));
    auto t = openIp(box.engine(), QStringLiteral("SYSID"));
    std::set<QString> ids;
    int rows = 0;
    for (t->first(); !t->eof(); t->next(), ++rows)
        ids.insert(t->fieldText(QStringLiteral("SYSID")));
    QCOMPARE(rows, workers * each);
    QCOMPARE(int(ids.size()), workers * each);
    QCOMPARE(*ids.begin(), QStringLiteral("S000001"));
    QCOMPARE(*ids.rbegin(), QStringLiteral("S%1").arg(workers * each, 6, 10, QChar(u'0')));
    t->file()->verifyIndexes();
}

void TestLocking::editedRowIsLockedAgainstOtherProcesses_data() {
    QTest::addColumn<QString>("latency");
    addLatencyRows(
        [](const char* name, const QString& latency) { QTest::newRow(name) << latency; });
}

// One process edits a row; another process (and this one) cannot edit or delete it meanwhile,
// get the locked error, and the stored row is the first editor's.
void TestLocking::editedRowIsLockedAgainstOtherProcesses() {
    QFETCH(QString, latency);
    g_latency = latency;
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    auto t = openIp(box.engine());
    for (int i = 1; i <= 3; ++i)
        appendRow(*t, QStringLiteral("A%1").arg(i, 3, 10, QChar(u'0')),
                  QStringLiteral("pc%1").arg(i));

    auto first = startWorker({QStringLiteral("edit"), dbf, QStringLiteral("2"),
                              QStringLiteral("first"), QStringLiteral("1500")});
    QCOMPARE(waitForLine(*first), QStringLiteral("ready"));
    auto second = startWorker({QStringLiteral("edit"), dbf, QStringLiteral("2"),
                               QStringLiteral("second"), QStringLiteral("0")},
                              200);
    QString out = finish(*second, 3);
    QVERIFY2(out.contains(QStringLiteral("locked by another user")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("IP.")), qPrintable(out));

    setLockTimeout(std::chrono::milliseconds(100));
    goToRecord(*t, 2);
    expectError([&] { t->edit(); }, QStringLiteral("locked by another user"));
    QCOMPARE(t->state(), Table::State::Browse);
    expectError([&] { t->remove(); }, QStringLiteral("locked by another user"));
    // Other rows stay free.
    goToRecord(*t, 3);
    t->edit();
    t->setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("third"));
    t->post();

    QCOMPARE(finish(*first), QStringLiteral("done"));
    goToRecord(*t, 2);
    QCOMPARE(t->fieldText(QStringLiteral("COMPUTER")), QStringLiteral("first"));
    t->edit(); // free again once posted
    t->cancel();
    QCOMPARE(t->recordCount(), 3);
    t->file()->verifyIndexes();
}

// An edit starts from the row as another process last stored it, and posting it keeps that
// process's change; rows appended elsewhere are found through the index and counted.
void TestLocking::rowChangedElsewhereIsReadBeforeEdit() {
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    auto t = openIp(box.engine(), QStringLiteral("COMPUTER"));
    appendRow(*t, QStringLiteral("A001"), QStringLiteral("before"));
    t->first();
    QCOMPARE(t->fieldText(QStringLiteral("COMPUTER")), QStringLiteral("before"));

    auto w = startWorker({QStringLiteral("edit"), dbf, QStringLiteral("1"),
                          QStringLiteral("changed elsewhere"), QStringLiteral("0")});
    QCOMPARE(finish(*w), QStringLiteral("done"));
    QSignalSpy reread(t.get(), &Table::rowChanged);
    t->edit();
    QCOMPARE(t->fieldText(QStringLiteral("COMPUTER")), QStringLiteral("changed elsewhere"));
    QVERIFY(reread.count() >= 1);
    t->setFieldText(QStringLiteral("TYPE"), QStringLiteral("LINX"));
    t->post();

    auto more =
        startWorker({QStringLiteral("append"), dbf, QStringLiteral("700"), QStringLiteral("X")});
    QCOMPARE(finish(*more), QStringLiteral("done"));
    QCOMPARE(t->recordCount(), 701);
    t->setKey();
    t->setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("pc-X-650"));
    QVERIFY(t->gotoKey());
    QCOMPARE(t->fieldText(QStringLiteral("SYSID")), QStringLiteral("X-650"));

    TableFile check(dbf);
    const DbfField& c = check.fields()[size_t(check.dbf().fieldIndex("COMPUTER"))];
    const DbfField& ty = check.fields()[size_t(check.dbf().fieldIndex("TYPE"))];
    const char* rec = check.dbf().record(1);
    QCOMPARE(QString::fromLatin1(rec + c.offset, c.length).trimmed(),
             QStringLiteral("changed elsewhere"));
    QCOMPARE(QString::fromLatin1(rec + ty.offset, ty.length).trimmed(), QStringLiteral("LINX"));
    check.verifyIndexes();
}

// Record and table locks of a killed process are gone at once; nothing it held is lost.
void TestLocking::locksDieWithTheirProcess() {
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    auto t = openIp(box.engine());
    appendRow(*t, QStringLiteral("A001"), QStringLiteral("one"));
    setLockTimeout(std::chrono::milliseconds(100));

    auto holder = startWorker({QStringLiteral("hold"), dbf, QStringLiteral("1")});
    QCOMPARE(waitForLine(*holder), QStringLiteral("ready"));
    t->first();
    expectError([&] { t->edit(); }, QStringLiteral("locked by another user"));
    holder->kill();
    holder->waitForFinished();
    t->edit();
    t->setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("mine"));
    t->post();

    auto locker = startWorker({QStringLiteral("lock"), dbf});
    QCOMPARE(waitForLine(*locker), QStringLiteral("ready"));
    expectError([&] { appendRow(*t, QStringLiteral("A002"), QStringLiteral("two")); },
                QStringLiteral("is busy"));
    QCOMPARE(t->state(), Table::State::Insert); // the new row is still there to post again
    // Reading is not blocked by the table lock.
    t->cancel();
    t->first();
    QCOMPARE(t->fieldText(QStringLiteral("COMPUTER")), QStringLiteral("mine"));
    locker->kill();
    locker->waitForFinished();
    appendRow(*t, QStringLiteral("A002"), QStringLiteral("two"));
    QCOMPARE(t->recordCount(), 2);
    t->file()->verifyIndexes();
}

void TestLocking::cachesFollowChangesMadeElsewhere_data() {
    QTest::addColumn<bool>("mapped");
    QTest::newRow("header mapped") << true;
    QTest::newRow("header read per check") << false;
}

// Two engines in one process have separate descriptors, so they meet as two processes do. Each
// writes while the other has a warm cache: splits, new roots and page totals from the other
// side must be picked up, or the trees end up overwriting each other's blocks.
void TestLocking::cachesFollowChangesMadeElsewhere() {
    QFETCH(bool, mapped);
    if (!mapped)
        qputenv("QUILLNET_NO_HEADER_MAP", "1");
    test::Sandbox box;
    box.createInventory();
    Engine other(box.path() + QStringLiteral("/other.cfg"));
    other.initialize();
    other.addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + box.dbPath());
    auto a = openIp(box.engine(), QStringLiteral("SYSID"));
    auto b = openIp(other, QStringLiteral("IP"));
    QVERIFY(a->file() != b->file());
    for (int round = 0; round < 6; ++round) {
        Table& writer = round % 2 ? *b : *a;
        Table& reader = round % 2 ? *a : *b;
        for (int i = 0; i < 400; ++i)
            appendRow(writer, QStringLiteral("R%1-%2").arg(round).arg(i, 4, 10, QChar(u'0')),
                      QStringLiteral("pc%1").arg(i));
        QCOMPARE(reader.recordCount(), (round + 1) * 400);
        reader.setKey();
        if (reader.indexName() == QLatin1String("SYSID"))
            reader.setFieldText(QStringLiteral("SYSID"), QStringLiteral("R%1-0399").arg(round));
        else
            reader.setFieldText(QStringLiteral("IPSTRING"), QStringLiteral("399"));
        QVERIFY(reader.gotoKey());
        // An edit from the other side of a row this side has cached.
        goToRecord(reader, uint32_t(round * 400 + 1));
        reader.edit();
        reader.setFieldText(QStringLiteral("TYPE"), QStringLiteral("T%1").arg(round));
        reader.post();
        goToRecord(writer, uint32_t(round * 400 + 1));
        QCOMPARE(writer.fieldText(QStringLiteral("TYPE")), QStringLiteral("T%1").arg(round));
    }
    a->close();
    b->close();
    TableFile check(findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF")));
    QCOMPARE(check.dbf().recordCount(), 2400u);
    check.verifyIndexes();
}

// This process's writes inside its own table lock must not give the outer lock away.
void TestLocking::nestedLocksKeepTheOuterOne() {
    test::Sandbox box;
    box.createInventory();
    Engine other(box.path() + QStringLiteral("/other.cfg"));
    other.initialize();
    other.addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + box.dbPath());
    auto mine = openIp(box.engine());
    auto theirs = openIp(other);
    setLockTimeout(std::chrono::milliseconds(50));
    {
        TableLock lock(*mine);
        appendRow(*mine, QStringLiteral("A001"), QStringLiteral("one"));
        mine->first();
        mine->edit();
        mine->setFieldText(QStringLiteral("TYPE"), QStringLiteral("UNIX"));
        mine->post();
        { TableLock again(*mine->file()); }
        expectError([&] { appendRow(*theirs, QStringLiteral("B001"), QStringLiteral("b")); },
                    QStringLiteral("is busy"));
        theirs->cancel();
        theirs->first();
        expectError([&] { theirs->remove(); }, QStringLiteral("is busy"));
    }
    appendRow(*theirs, QStringLiteral("B001"), QStringLiteral("b"));
    // A row being edited here stays locked after a post of another row.
    theirs->first();
    theirs->edit();
    appendRow(*mine, QStringLiteral("A002"), QStringLiteral("two"));
    mine->first();
    expectError([&] { mine->edit(); }, QStringLiteral("locked by another user"));
    theirs->cancel();
    mine->edit();
    mine->post();
    QCOMPARE(mine->recordCount(), 3);
}

void TestLocking::twoProcessesRecordDistinctSystemIds_data() {
    QTest::addColumn<int>("each");
    QTest::addColumn<QString>("latency");
    addLatencyRows([](const char* name, const QString& latency) {
        QTest::newRow(name) << (latency.isEmpty() ? 500 : 100 / kScale) << latency;
    });
}

// Two processes record systems the way Add New System does (ID shown first, checked and taken
// under the systems table's lock at Save): as many distinct IDs as systems, the numbers from 1
// without a gap.
void TestLocking::twoProcessesRecordDistinctSystemIds() {
    QFETCH(int, each);
    QFETCH(QString, latency);
    g_latency = latency;
    test::Sandbox box;
    box.createInventory();
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = 0; w < 2; ++w)
        procs.push_back(startWorker({QStringLiteral("record"), box.dbPath(), QString::number(each),
                                     QStringLiteral("ABC")}));
    int retaken = 0;
    for (auto& p : procs) {
        QCOMPARE(p->waitForFinished(120000), true);
        const QString out = QString::fromLocal8Bit(p->readAllStandardOutput()).trimmed();
        const QStringList lines = out.split(u'\n');
        QVERIFY2(lines.value(lines.size() - 1) == QLatin1String("done"),
                 qPrintable(out.right(300) + QString::fromLocal8Bit(p->readAllStandardError())));
        QVERIFY(lines.value(lines.size() - 2).startsWith(QStringLiteral("retaken ")));
        retaken += lines.value(lines.size() - 2).mid(8).toInt();
    }
    qInfo("%d shown IDs were taken by the other process before their Save", retaken);
    Table sys(box.engine());
    sys.setDatabaseName(QStringLiteral("IP"));
    sys.setTableName(QStringLiteral("SYSTEMS.DBF"));
    sys.open();
    std::set<QString> ids;
    int rows = 0;
    for (sys.first(); !sys.eof(); sys.next(), ++rows)
        ids.insert(sys.fieldText(QStringLiteral("SysID")));
    QCOMPARE(rows, 2 * each);
    QCOMPARE(int(ids.size()), 2 * each);
    QCOMPARE(*ids.begin(), QStringLiteral("ABC0001"));
    QCOMPARE(*ids.rbegin(), QStringLiteral("ABC%1").arg(2 * each, 4, 10, QChar(u'0')));
    sys.file()->verifyIndexes();
}

void TestLocking::killedAppenderLosesNoCommittedRow_data() {
    QTest::addColumn<int>("rounds");
    QTest::addColumn<QString>("latency");
    addLatencyRows([](const char* name, const QString& latency) {
        QTest::newRow(name) << (latency.isEmpty() ? 50 : 20) << latency;
    });
}

// A child appends to IP.DBF (every tag) until it is killed at a random instant, many times
// over: each time the table opens, every row whose post had returned is there, and every
// tag holds exactly the table's keys, rebuilt with a notice where the kill left it behind.
// A table kept open here across the kills must mend the index at its next write too.
void TestLocking::killedAppenderLosesNoCommittedRow() {
    QFETCH(int, rounds);
    QFETCH(QString, latency);
    g_latency = latency;
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    auto kept = openIp(box.engine(), QStringLiteral("SYSID"));
    StoreNotices::instance().take();
    QRandomGenerator rng(20240611);
    std::set<QString> committed;
    int repaired = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString label = QStringLiteral("K%1").arg(round);
        auto child = startWorker({QStringLiteral("forever"), dbf, label});
        QVERIFY2(!waitForLine(*child).isEmpty(), "the child committed no row");
        // Slowed calls stretch a post; the kill lands anywhere in a few of them.
        QThread::usleep(rng.bounded(1, latency.isEmpty() ? 20000 : 60000));
        child->kill();
        QVERIFY(child->waitForFinished(10000));
        QCOMPARE(child->exitStatus(), QProcess::CrashExit);
        // The first line was taken by waitForLine; its row is "<label>-1".
        committed.insert(label + QStringLiteral("-1"));
        for (const QByteArray& line : child->readAllStandardOutput().split('\n'))
            if (line.contains(' '))
                committed.insert(QString::fromLatin1(line.mid(line.indexOf(' ') + 1)));

        {
            TableFile file(dbf);
            repaired += file.repairs();
            std::set<QString> stored;
            const DbfField& f = file.fields()[size_t(file.dbf().fieldIndex("SYSID"))];
            for (uint32_t r = 1; r <= file.dbf().recordCount(); ++r) {
                const char* rec = file.dbf().record(r);
                QVERIFY(DbfFile::isLive(rec));
                stored.insert(QString::fromLatin1(rec + f.offset, f.length).trimmed());
            }
            for (const QString& id : committed)
                QVERIFY2(stored.count(id), qPrintable(id + QStringLiteral(" is lost")));
            file.verifyIndexes();
        }
        if (round % 5 == 4) { // the table open all along writes next
            appendRow(*kept, QStringLiteral("M%1").arg(round), QStringLiteral("kept"));
            committed.insert(QStringLiteral("M%1").arg(round));
            kept->setKey();
            kept->setFieldText(QStringLiteral("SYSID"), *committed.rbegin());
            QVERIFY(kept->gotoKey());
        }
    }
    const QStringList notices = StoreNotices::instance().take();
    QCOMPARE(int(notices.size()), repaired);
    for (const QString& n : notices)
        QVERIFY2(n.contains(QStringLiteral("rebuilt")) && n.contains(QStringLiteral("IP.")),
                 qPrintable(n));
    qInfo("%d committed rows; the index was rebuilt after %d of %d kills", int(committed.size()),
          repaired, rounds);
    kept->close();
    TableFile last(dbf);
    last.verifyIndexes();
}

void TestLocking::disagreeingIndexIsRebuiltWithNotice_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("rebuilt");
    QTest::newRow("older copy of the index") << "stale" << true;
    QTest::newRow("row changed, index not, marked unfinished") << "lost" << true;
    QTest::newRow("change marked unfinished, index sound") << "marked" << false;
}

// An index that disagrees with its table is found when the table is opened and rebuilt from
// the rows, with a notice for the user; a sound one is left alone and nobody is told.
void TestLocking::disagreeingIndexIsRebuiltWithNotice() {
    QFETCH(QString, damage);
    QFETCH(bool, rebuilt);
    test::Sandbox box;
    box.createInventory();
    const QString dbf = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.DBF"));
    const QString mdx = findFileIgnoringCase(box.dbPath(), QStringLiteral("IP.MDX"));
    const QString copy = box.path() + QStringLiteral("/old.mdx");
    {
        auto t = openIp(box.engine());
        for (int i = 1; i <= 40; ++i) {
            if (i == 31)
                QVERIFY(QFile::copy(mdx, copy));
            appendRow(*t, QStringLiteral("A%1").arg(i, 3, 10, QChar(u'0')),
                      QStringLiteral("pc%1").arg(i));
        }
    }
    if (damage == QLatin1String("stale")) {
        QVERIFY(QFile::remove(mdx));
        QVERIFY(QFile::copy(copy, mdx));
    } else {
        int64_t at = 0;
        {
            TableFile file(dbf);
            const DbfField& c = file.fields()[size_t(file.dbf().fieldIndex("COMPUTER"))];
            at = file.dbf().headerLength() + 6 * int64_t(file.dbf().recordLength()) + c.offset;
        }
        QFile f(dbf);
        QVERIFY(f.open(QIODevice::ReadWrite));
        // A row rewritten in place whose index change never came (a kill in between).
        if (damage == QLatin1String("lost")) {
            QVERIFY(f.seek(at));
            QCOMPARE(f.write("zz7", 3), qint64(3));
        }
        QVERIFY(f.seek(14));
        QCOMPARE(f.write("\x01", 1), qint64(1));
    }
    StoreNotices::instance().take();
    QSignalSpy told(&StoreNotices::instance(), &StoreNotices::notice);
    {
        auto t = openIp(box.engine(), QStringLiteral("COMPUTER"));
        QCOMPARE(t->file()->repairs(), rebuilt ? 1 : 0);
        QCOMPARE(t->file()->dbf().incomplete(), false);
        t->file()->verifyIndexes();
        QCOMPARE(t->recordCount(), 40);
        const bool changed = damage == QLatin1String("lost");
        for (auto [name, found] : {std::pair{"pc40", true}, {"pc7", !changed}, {"zz7", changed}}) {
            t->setKey();
            t->setFieldText(QStringLiteral("COMPUTER"), QString::fromLatin1(name));
            QVERIFY2(t->gotoKey() == found, name);
        }
    }
    QCOMPARE(told.count(), rebuilt ? 1 : 0);
    const QStringList notices = StoreNotices::instance().take();
    QCOMPARE(notices.size(), rebuilt ? 1 : 0);
    if (rebuilt)
        QVERIFY2(notices[0].contains(QStringLiteral("IP.")) &&
                     notices[0].contains(QStringLiteral("rebuilt")),
                 qPrintable(notices[0]));
    // Opened again, nothing more to mend.
    TableFile again(dbf);
    QCOMPARE(again.repairs(), 0);
}

void TestLocking::unsafeMountsAreRefused_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("option"); // empty: writing allowed
    QTest::newRow("cifs, default caching") << "/srv/inv/db"
                                           << "";
    QTest::newRow("cifs nobrl") << "/mnt/nobrl/db"
                                << "nobrl";
    QTest::newRow("cifs cache=loose") << "/mnt/loose"
                                      << "cache=loose";
    QTest::newRow("nfs4 with locks") << "/net/inv/db"
                                     << "";
    QTest::newRow("nfs nolock") << "/net/old/x"
                                << "nolock";
    QTest::newRow("nfs local_lock=all") << "/net/local/db"
                                        << "local_lock=all";
    QTest::newRow("nfs local_lock=flock (fcntl locks still shared)") << "/net/flock"
                                                                     << "";
    QTest::newRow("local disk under an unsafe mount's path") << "/mnt/nobrl/local/db"
                                                             << "";
    QTest::newRow("mount point with a space") << "/mnt/my share/db"
                                              << "nobrl";
    QTest::newRow("folder beside a mount, not in it") << "/mnt/nobrl2/db"
                                                      << "";
}

// The decision on lines as /proc/self/mountinfo shows them: the mount holding the folder (the
// longest mount point) decides, and the message names the folder, the option and the remedy.
void TestLocking::unsafeMountsAreRefused() {
    QFETCH(QString, folder);
    QFETCH(QString, option);
    const QString mountinfo = QStringLiteral(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 0:40 / /srv/inv rw,relatime shared:20 - cifs //fs/inv "
        "rw,vers=3.1.1,cache=strict,username=adm,uid=0,noforceuid,actimeo=1\n"
        "41 22 0:41 / /mnt/nobrl rw,relatime - cifs //fs/a rw,vers=3.0,cache=strict,nobrl\n"
        "42 22 0:42 / /mnt/loose rw,relatime - smb3 //fs/b rw,vers=3.0,cache=loose\n"
        "43 22 0:43 / /net/inv rw,relatime - nfs4 fs:/inv "
        "rw,vers=4.2,hard,proto=tcp,local_lock=none,addr=10.0.0.5\n"
        "44 22 0:44 / /net/old rw,relatime - nfs fs:/old rw,vers=3,nolock,proto=tcp\n"
        "45 22 0:45 / /net/local rw - nfs fs:/l rw,vers=3,local_lock=all\n"
        "46 22 0:46 / /net/flock rw - nfs fs:/f rw,vers=3,local_lock=flock\n"
        "47 41 8:2 / /mnt/nobrl/local rw,relatime - ext4 /dev/sda2 rw\n"
        "48 22 0:48 / /mnt/my\\040share rw - cifs //fs/c rw,nobrl\n"
        "49 22 0:49 / /mnt/nobrl2 rw - ext4 /dev/sdb1 rw\n");
    const QString message = mounts::refusal(folder, mountinfo);
    if (option.isEmpty()) {
        QVERIFY2(message.isEmpty(), qPrintable(message));
        return;
    }
    QVERIFY2(message.contains(folder) && message.contains(u'"' + option + u'"') &&
                 message.contains(QStringLiteral("can still be read")),
             qPrintable(message));
}

QTEST_GUILESS_MAIN(TestLocking)
#include "test_locking.moc"
