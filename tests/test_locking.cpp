// Several processes on one table: appends, edits and ID allocation under the dBASE locks,
// caches that follow changes made elsewhere, locks that die with their process, and tables
// that survive a writer killed at any instant; the same again with the workers' file calls
// slowed as on a network drive (tests/qnslow.cpp), and which network mounts are refused.
#include "error.h"
#include "mounts.h"
#include "tablefile.h"
#include "tablelock.h"
#include "testutil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <set>

using namespace qn;
using test::expectStoreError;
using test::startWorker;
using test::waitForLine;
using test::Worker;

namespace {

// The sanitizer build runs each latency case once, with fewer rows.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4, kRuns = 1;
#else
constexpr int kScale = 1, kRuns = 2;
#endif

// All the worker wrote once it ended; warns if it exits other than expected.
QString finish(QProcess& p, int expectedExit = 0) {
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(120000))
        qWarning() << "worker did not end";
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != expectedExit)
        qWarning().noquote() << "worker exit" << p.exitCode() << out << p.readAllStandardError();
    return out;
}
QString lastLine(QProcess& p, int expectedExit = 0) {
    return finish(p, expectedExit).section(u'\n', -1);
}

void kill(QProcess& p) {
    p.kill();
    p.waitForFinished();
}

void addIp(Table& t, const QString& sysId, const QString& computer) {
    test::appendRow(t, {{"SYSID", sysId}, {"COMPUTER", computer}, {"IPSTRING", sysId.right(3)}});
}

void goToRecord(Table& t, uint32_t recno) {
    for (t.first(); !t.eof() && t.recNo() != recno; t.next()) {
    }
    QCOMPARE(t.recNo(), recno);
}

// Each latency case runs twice: a race shows in some runs only. The columns: how many (rows,
// systems, kills), the shim's settings, how many worker processes, rows per group of writes
// (0: each on its own); with grouped > 0, rows of that many grouped writes follow.
void latencyRows(int plain, int slowed, int grouped = 0, int groupCount = 0) {
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("shim");
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("group");
    QTest::newRow("no delay") << plain << QStringList() << 2 << 0;
    for (int run = 1; run <= kRuns; ++run)
        for (const char* us : {"500", "0-2000"})
            QTest::addRow("%s us, run %d", us, run)
                << slowed << QStringList{QStringLiteral("QNSLOW_US=") + us} << 2 << 0;
    for (const char* us : {"500", "0-2000"})
        if (grouped > 0)
            QTest::addRow("%s us, groups of %d", us, grouped)
                << groupCount << QStringList{QStringLiteral("QNSLOW_US=") + us} << 2 << grouped;
}

} // namespace

class TestLocking : public QObject {
    Q_OBJECT
    std::unique_ptr<test::Sandbox> m_box;
    QString m_dbf;

private slots:
    void init() {
        setLockTimeout(std::chrono::milliseconds(10000));
        m_box = std::make_unique<test::Sandbox>();
        m_box->createInventory();
        m_dbf = m_box->file("IP.dbf");
    }
    void cleanup() {
        qunsetenv("QUILLNET_NO_HEADER_MAP");
        m_box.reset();
    }

    void concurrentAppendsLoseNothing_data() {
        latencyRows(5000, 300 / kScale, 50, 1000 / kScale);
        QTest::newRow("4 workers") << 1500 << QStringList() << 4 << 0;
    }
    // Every row of every appender once, the header count equal to the rows, and every tag a
    // sound tree holding exactly the keys of the rows; a reader in this process meanwhile never
    // fails, never sees the count go back (nor part of a group), and at the end counts and
    // finds the last rows.
    void concurrentAppendsLoseNothing() {
        QFETCH(int, count);
        QFETCH(QStringList, shim);
        QFETCH(int, processes);
        QFETCH(int, group);
        const int total = processes * count;
        std::vector<Worker> procs;
        for (int w = 0; w < processes; ++w)
            procs.push_back(startWorker({"append", m_dbf, QString::number(count),
                                         QStringLiteral("W%1").arg(w), QString::number(group)},
                                        shim));
        {
            auto reader = m_box->open("IP.DBF", "SYSID");
            int seen = 0;
            auto running = [&] {
                return std::any_of(procs.begin(), procs.end(), [](auto& p) {
                    p->waitForFinished(1);
                    return p->state() != QProcess::NotRunning;
                });
            };
            while (running()) {
                const int n = reader->recordCount();
                QVERIFY2(n >= seen && (group == 0 || n % group == 0),
                         qPrintable(QStringLiteral("%1 rows after %2").arg(n).arg(seen)));
                seen = n;
                const QString w01 = test::findKey(*reader, {{"SYSID", "W0-1"}}, "COMPUTER");
                QVERIFY(w01.isEmpty() || w01 == "pc-W0-1");
            }
            QVERIFY(seen > 0);
            for (auto& p : procs)
                QCOMPARE(lastLine(*p), QString("done"));
            QCOMPARE(reader->recordCount(), total);
            const QString last = QStringLiteral("W%1-%2").arg(processes - 1).arg(count);
            QCOMPARE(test::findKey(*reader, {{"SYSID", last}}, "COMPUTER"), "pc-" + last);
        }
        TableFile file(m_dbf);
        QCOMPARE(file.dbf().headerCount(), uint32_t(total));
        QCOMPARE(file.dbf().recordCount(), uint32_t(total));
        const QStringList stored = test::storedValues(m_dbf, "SYSID"); // live rows only
        const std::set<QString> ids(stored.begin(), stored.end());
        QCOMPARE(int(stored.size()), total);
        QCOMPARE(int(ids.size()), total);
        for (int w = 0; w < processes; ++w)
            for (int n = 1; n <= count; n += 97)
                QVERIFY(ids.count(QStringLiteral("W%1-%2").arg(w).arg(n)));
        file.verifyIndexes();
    }

    // A worker opens the table while this process appends a row between the worker's size and
    // header reads (its fstat answers 0.3 s late): the worker's own rows then go after that
    // row, none over it.
    void appendDuringAnotherOpenLosesNothing() {
        auto mine = m_box->open("IP.DBF", "SYSID");
        addIp(*mine, "M1", "mine");
        auto w = startWorker({"append", m_dbf, "3", "W"}, {"QNSLOW_CALLS=fstat", "QNSLOW_US=300000",
                                                           "QNSLOW_TELL=1", "QNSLOW_MATCH=.dbf"});
        w->setReadChannel(QProcess::StandardError);
        QVERIFY2(waitForLine(*w).startsWith("qnslow: fstat"), "no delayed fstat");
        addIp(*mine, "M2", "mine");
        w->setReadChannel(QProcess::StandardOutput);
        QCOMPARE(lastLine(*w), QString("done"));
        QStringList ids = test::storedValues(m_dbf, "SYSID");
        ids.sort();
        QCOMPARE(ids, (QStringList{"M1", "M2", "W-1", "W-2", "W-3"}));
        TableFile(m_dbf).verifyIndexes();
    }

    void editedRowIsLockedAgainstOtherProcesses_data() { latencyRows(0, 0); }
    // One process edits a row; another process (and this one) cannot edit or delete it
    // meanwhile and get the locked error, while other rows stay free. Once it is posted, an edit
    // here starts from the row as that process stored it, and posting keeps its change.
    void editedRowIsLockedAgainstOtherProcesses() {
        QFETCH(QStringList, shim);
        auto t = m_box->open("IP.DBF");
        for (int i = 1; i <= 3; ++i)
            addIp(*t, QStringLiteral("A00%1").arg(i), QStringLiteral("pc%1").arg(i));
        // Held long enough for a second worker to start on a loaded machine under ASan.
        auto first = startWorker({"edit", m_dbf, "2", "first", "5000"}, shim);
        QCOMPARE(waitForLine(*first), QString("ready"));
        auto second = startWorker({"edit", m_dbf, "2", "second", "0"}, shim, 200);
        const QString out = lastLine(*second, 3);
        QVERIFY2(out.contains("locked by another user") && out.contains("IP."), qPrintable(out));

        setLockTimeout(std::chrono::milliseconds(100));
        goToRecord(*t, 3);
        t->edit();
        t->setFieldText("COMPUTER", "third");
        t->post();
        goToRecord(*t, 2);
        QCOMPARE(t->fieldText("COMPUTER"), QString("pc2"));
        expectStoreError([&] { t->edit(); }, "locked by another user");
        QCOMPARE(t->state(), Table::State::Browse);
        expectStoreError([&] { t->remove(); }, "locked by another user");

        QCOMPARE(lastLine(*first), QString("done"));
        QSignalSpy reread(t.get(), &Table::rowChanged);
        t->edit();
        QCOMPARE(t->fieldText("COMPUTER"), QString("first"));
        QVERIFY(reread.count() >= 1);
        t->setFieldText("TYPE", "LINX");
        t->post();
        QCOMPARE(test::storedValues(m_dbf, "COMPUTER"), (QStringList{"pc1", "first", "third"}));
        QCOMPARE(test::storedValues(m_dbf, "TYPE").at(1), QString("LINX"));
        QCOMPARE(t->recordCount(), 3);
        t->file()->verifyIndexes();
    }

    // Record and table locks of a killed process are gone at once; nothing it held is lost.
    void locksDieWithTheirProcess() {
        auto t = m_box->open("IP.DBF");
        addIp(*t, "A001", "one");
        setLockTimeout(std::chrono::milliseconds(100));

        auto holder = startWorker({"edit", m_dbf, "1", "x", "600000"});
        QCOMPARE(waitForLine(*holder), QString("ready"));
        t->first();
        expectStoreError([&] { t->edit(); }, "locked by another user");
        kill(*holder);
        t->edit();
        t->setFieldText("COMPUTER", "mine");
        t->post();

        auto locker = startWorker({"lock", m_dbf});
        QCOMPARE(waitForLine(*locker), QString("ready"));
        expectStoreError([&] { addIp(*t, "A002", "two"); }, "is busy");
        QCOMPARE(t->state(), Table::State::Insert); // the new row is still there to post again
        t->cancel();
        t->first(); // reading is not blocked by the table lock
        QCOMPARE(t->fieldText("COMPUTER"), QString("mine"));
        kill(*locker);
        addIp(*t, "A002", "two");
        QCOMPARE(t->recordCount(), 2);
        t->file()->verifyIndexes();
    }

    void cachesFollowChangesMadeElsewhere_data() {
        QTest::addColumn<bool>("mapped");
        QTest::newRow("header mapped") << true;
        QTest::newRow("header read per check") << false;
    }
    // Two engines in one process have separate descriptors, so they meet as two processes do.
    // Each writes while the other has a warm cache: splits, new roots and page totals from the
    // other side must be picked up, or the trees end up overwriting each other's blocks.
    void cachesFollowChangesMadeElsewhere() {
        QFETCH(bool, mapped);
        if (!mapped)
            qputenv("QUILLNET_NO_HEADER_MAP", "1");
        auto other = m_box->otherEngine("other");
        auto a = m_box->open("IP.DBF", "SYSID");
        auto b = test::Sandbox::openTable(*other, "IP.DBF", "IP");
        QVERIFY(a->file() != b->file());
        for (int round = 0; round < 6; ++round) {
            Table& writer = round % 2 ? *b : *a;
            Table& reader = round % 2 ? *a : *b;
            for (int i = 0; i < 400; ++i)
                addIp(writer, QStringLiteral("R%1-%2").arg(round).arg(i, 4, 10, QChar(u'0')),
                      QStringLiteral("pc%1").arg(i));
            QCOMPARE(reader.recordCount(), (round + 1) * 400);
            const bool bySysId = reader.indexName() == "SYSID";
            const QString key = bySysId ? QStringLiteral("R%1-0399").arg(round) : "399";
            QCOMPARE(test::findKey(reader, {{bySysId ? "SYSID" : "IPSTRING", key}}, "IPSTRING"),
                     QString("399"));
            // An edit from the other side of a row this side has cached.
            goToRecord(reader, uint32_t(round * 400 + 1));
            reader.edit();
            reader.setFieldText("TYPE", QStringLiteral("T%1").arg(round));
            reader.post();
            goToRecord(writer, uint32_t(round * 400 + 1));
            QCOMPARE(writer.fieldText("TYPE"), QStringLiteral("T%1").arg(round));
        }
        a->close();
        b->close();
        TableFile check(m_dbf);
        QCOMPARE(check.dbf().recordCount(), 2400u);
        check.verifyIndexes();
    }

    // This process's writes inside its own table lock must not give the outer lock away.
    void nestedLocksKeepTheOuterOne() {
        auto other = m_box->otherEngine("other");
        auto mine = m_box->open("IP.DBF");
        auto theirs = test::Sandbox::openTable(*other, "IP.DBF");
        setLockTimeout(std::chrono::milliseconds(50));
        {
            TableLock lock(*mine);
            addIp(*mine, "A001", "one");
            mine->first();
            mine->edit();
            mine->setFieldText("TYPE", "UNIX");
            mine->post();
            { TableLock again(*mine->file()); }
            expectStoreError([&] { addIp(*theirs, "B001", "b"); }, "is busy");
            theirs->cancel();
            theirs->first();
            expectStoreError([&] { theirs->remove(); }, "is busy");
        }
        addIp(*theirs, "B001", "b");
        // A row being edited here stays locked after a post of another row.
        theirs->first();
        theirs->edit();
        addIp(*mine, "A002", "two");
        mine->first();
        expectStoreError([&] { mine->edit(); }, "locked by another user");
        theirs->cancel();
        mine->edit();
        mine->post();
        QCOMPARE(mine->recordCount(), 3);
    }

    void twoProcessesRecordDistinctSystemIds_data() { latencyRows(500, 100 / kScale); }
    // Two processes record systems the way Add New System does (ID shown first, checked and
    // taken under the systems table's lock at Save, "the highest plus one"): as many distinct
    // IDs as systems, the numbers from 1 without a gap.
    void twoProcessesRecordDistinctSystemIds() {
        QFETCH(int, count);
        QFETCH(QStringList, shim);
        QFETCH(int, processes);
        std::vector<Worker> procs;
        for (int w = 0; w < processes; ++w)
            procs.push_back(
                startWorker({"record", m_box->dbPath(), QString::number(count), "ABC"}, shim));
        int retaken = 0;
        for (auto& p : procs) {
            const QString out = finish(*p);
            QVERIFY2(out.endsWith("\ndone"), qPrintable(out));
            retaken += out.section("retaken ", 1).section(u'\n', 0, 0).toInt();
        }
        qInfo("%d shown IDs were taken by the other process before their Save", retaken);
        auto sys = m_box->open("SYSTEMS.DBF", "SYSID");
        QStringList expected;
        for (int i = 1; i <= processes * count; ++i)
            expected << QStringLiteral("ABC%1").arg(i, 4, 10, QChar(u'0'));
        QCOMPARE(test::fieldValues(*sys, "SysID"), expected);
        sys->file()->verifyIndexes();
    }

    void killedAppenderLosesNoCommittedRow_data() { latencyRows(50, 20, 10, 20); }
    // A child appends to IP.DBF (every tag) until it is killed at a random instant, many times
    // over: each time the table opens, every row whose post had returned is there, and every
    // tag holds exactly the table's keys, rebuilt with a notice where the kill left it behind.
    // Of a child writing in groups, whole groups only. A table kept open here across the kills
    // must mend the index at its next write too.
    void killedAppenderLosesNoCommittedRow() {
        QFETCH(int, count);
        QFETCH(QStringList, shim);
        QFETCH(int, group);
        auto kept = m_box->open("IP.DBF", "SYSID");
        StoreNotices::instance().take();
        QRandomGenerator rng(20240611);
        std::set<QString> committed;
        int repaired = 0;
        for (int round = 0; round < count; ++round) {
            const QString label = QStringLiteral("K%1").arg(round);
            auto child = startWorker({"forever", m_dbf, label, QString::number(group)}, shim);
            QVERIFY2(!waitForLine(*child).isEmpty(), "the child committed no row");
            // Slowed calls stretch a post; the kill lands anywhere in a few of them.
            QThread::usleep(rng.bounded(1, shim.isEmpty() ? 20000 : 60000));
            kill(*child);
            QCOMPARE(child->exitStatus(), QProcess::CrashExit);
            // The first line was taken by waitForLine; its row is "<label>-1".
            committed.insert(label + "-1");
            for (const QByteArray& line : child->readAllStandardOutput().split('\n'))
                if (line.contains(' '))
                    committed.insert(QString::fromLatin1(line.mid(line.indexOf(' ') + 1)));
            {
                TableFile file(m_dbf);
                repaired += file.repairs();
                const QStringList live = test::storedValues(m_dbf, "SYSID");
                QCOMPARE(live.size(), qsizetype(file.dbf().recordCount()));
                const std::set<QString> stored(live.begin(), live.end());
                for (const QString& id : committed)
                    QVERIFY2(stored.count(id), qPrintable(id + " is lost"));
                const auto mine = live.filter(QRegularExpression("^" + label + "-")).size();
                QVERIFY2(group == 0 || mine % group == 0,
                         qPrintable(QStringLiteral("%1 rows of %2").arg(mine).arg(label)));
                file.verifyIndexes();
            }
            if (round % 5 == 4) { // the table open all along writes next
                addIp(*kept, QStringLiteral("M%1").arg(round), "kept");
                committed.insert(QStringLiteral("M%1").arg(round));
                QVERIFY(!test::findKey(*kept, {{"SYSID", *committed.rbegin()}}, "SYSID").isEmpty());
            }
        }
        const QStringList notices = StoreNotices::instance().take();
        QCOMPARE(int(notices.size()), repaired);
        for (const QString& n : notices)
            QVERIFY2(n.contains("rebuilt") && n.contains("IP."), qPrintable(n));
        qInfo("%d committed rows; the index was rebuilt after %d of %d kills",
              int(committed.size()), repaired, count);
        kept->close();
        TableFile(m_dbf).verifyIndexes();
    }

    void unsafeMountsAreRefused_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("option"); // empty: writing allowed
        for (auto [name, folder, option] :
             {std::tuple{"cifs, default caching", "/srv/inv/db", ""},
              {"cifs nobrl", "/mnt/nobrl/db", "nobrl"},
              {"cifs cache=loose", "/mnt/loose", "cache=loose"},
              {"nfs4 with locks", "/net/inv/db", ""},
              {"nfs nolock", "/net/old/x", "nolock"},
              {"nfs local_lock=all", "/net/local/db", "local_lock=all"},
              {"nfs local_lock=flock (fcntl locks still shared)", "/net/flock", ""},
              {"local disk under an unsafe mount's path", "/mnt/nobrl/local/db", ""},
              {"mount point with a space", "/mnt/my share/db", "nobrl"},
              {"folder beside a mount, not in it", "/mnt/nobrl2/db", ""}})
            QTest::newRow(name) << QString(folder) << QString(option);
    }
    // The decision on lines as /proc/self/mountinfo shows them: the mount holding the folder
    // (the longest mount point) decides, and the message names the folder, the option and the
    // remedy.
    void unsafeMountsAreRefused() {
        QFETCH(QString, folder);
        QFETCH(QString, option);
        const QString mountinfo =
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
            "49 22 0:49 / /mnt/nobrl2 rw - ext4 /dev/sdb1 rw\n";
        const QString message = mounts::refusal(folder, mountinfo);
        if (option.isEmpty())
            QVERIFY2(message.isEmpty(), qPrintable(message));
        else
            QVERIFY2(message.contains(folder) && message.contains(u'"' + option + u'"') &&
                         message.contains("can still be read"),
                     qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestLocking)
#include "test_locking.moc"
