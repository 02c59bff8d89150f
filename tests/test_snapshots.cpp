// Snapshots of the inventory's tables and restoring them: byte for byte, under another
// process's writes, after a killed bulk append, kept to a number, and through the Admin window.
#include "adminwindow.h"
#include "fixtures.h"
#include "mainwindow.h"
#include "passwordwindow.h"
#include "snapshots.h"
#include "snapshotswindow.h"
#include "tablefile.h"
#include "ui_adminwindow.h"
#include "ui_mainwindow.h"
#include "ui_passwordwindow.h"
#include "ui_snapshotswindow.h"

#include <QProcess>
#include <QTreeWidget>

using namespace qn;
using namespace qn::test;

namespace {

using Files = QMap<QString, QByteArray>;

// The ten files of the five tables; what the restore writes on purpose (the dBASE change stamp,
// the index's journal) blanked, so that the rest must be byte for byte the copy's.
Files tableFiles(const QString& folder) {
    Files out;
    for (const QString& base : snapshots::lockOrder())
        for (const char* ext : {".dbf", ".mdx"}) {
            QByteArray b = fileBytes(findFileIgnoringCase(folder, base + ext));
            if (QByteArray(ext) == ".dbf")
                b.replace(dbf::kStampAt, 4, QByteArray(4, '\0'));
            else
                b.replace(48, 512 - 48, QByteArray(512 - 48, '\0'));
            out[base + ext] = b;
        }
    return out;
}

// Every tag of every table agrees with its rows, and nothing had to be mended.
void expectSoundIndexes(const QString& folder) {
    for (const QString& base : snapshots::lockOrder()) {
        TableFile f(findFileIgnoringCase(folder, base + ".dbf"));
        f.verifyIndexes();
        QCOMPARE(f.repairs(), 0);
    }
}

void seed(Engine& engine) {
    Seeding s{&engine};
    s.system("QN0001", {{"USERFIRST", "Zoë"}, {"COMPANY", "A, \"B\" & C"}}, "10.0.0.1",
             {{"COMPUTER", "alpha"}});
    s.system("QN0002", {{"USERLAST", "O'Neil"}}, "10.0.0.2", {{"COMPUTER", "beta"}});
    s.system("QN10000", {}, "10.0.1.255", {{"COMPUTER", "gamma"}});
    s.item("HARDWARE.DBF", "QN0001", "Monitor");
    s.item("SOFTWARE.DBF", "QN0002", "Editor");
    s.resource("HW", "Disk", "Spare disk");
}

using Worker = std::unique_ptr<QProcess>;

Worker startWorker(const QStringList& args, const QString& shimUs = {}) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLNET_LOCK_TIMEOUT_MS", "10000");
    if (!shimUs.isEmpty()) {
        env.insert("LD_PRELOAD", buildDir() + "/tests/qnslow.so");
        env.insert("QNSLOW_CALLS", "fstat,stat,pread,fcntl");
        env.insert("QNSLOW_US", shimUs);
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    }
    p->setProcessEnvironment(env);
    p->start(buildDir() + "/tests/store_worker", args);
    p->waitForStarted(10000);
    return p;
}

// The worker's lines up to and including the first that starts with last.
QStringList linesUntil(QProcess& p, const QString& last) {
    QStringList out;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        if (!p.canReadLine() && !p.waitForReadyRead(100) && p.state() == QProcess::NotRunning)
            break;
        while (p.canReadLine()) {
            out << QString::fromLocal8Bit(p.readLine()).trimmed();
            if (out.last().startsWith(last))
                return out;
        }
    }
    qWarning() << "worker stopped:" << out << p.readAllStandardError();
    return out;
}

snapshots::Snapshot withReason(const QString& db, const QString& reason) {
    for (const snapshots::Snapshot& s : snapshots::list(db))
        if (s.reason == reason)
            return s;
    return {};
}

} // namespace

class SnapshotTest : public QObject {
    Q_OBJECT
private slots:
    void restoreGivesBackTheTables() {
        Sandbox box;
        box.createInventory();
        seed(box.engine());
        snapshots::take(box.engine(), "Import of staff.csv");
        const Files before = tableFiles(box.dbPath());
        // This process keeps a table open across the restore.
        auto ip = box.open("IP.DBF", "COMPUTER");
        QCOMPARE(fieldValues(*ip, "COMPUTER"), (QStringList{"alpha", "beta", "gamma"}));

        Seeding s{&box.engine()};
        s.system("QN0003", {}, "10.0.0.3", {{"COMPUTER", "delta"}});
        ip->first();
        editRow(*ip, {{"COMPUTER", "aardvark"}});
        ip->remove();
        s.resource("SW", "Office", "Suite");
        // Damage behind the engine's back: a software row's key changed, its index not.
        QByteArray sw = fileBytes(box.file("Software.dbf"));
        sw[sw.indexOf("QN0002")] = 'X';
        writeBytes(box.file("Software.dbf"), sw);

        const QString undo =
            snapshots::restore(box.engine(), withReason(box.dbPath(), "Import of staff.csv"));
        QCOMPARE(tableFiles(box.dbPath()), before);
        expectSoundIndexes(box.dbPath());
        QCOMPARE(fieldValues(*ip, "COMPUTER"), (QStringList{"alpha", "beta", "gamma"}));
        QCOMPARE(s.column("SOFTWARE.DBF", "SYSID"), QStringList{"QN0002"});
        // The tables as they were just before are kept, and can be put back in turn.
        QCOMPARE(snapshots::list(box.dbPath()).first().path, undo);
        QCOMPARE(snapshots::list(box.dbPath()).first().systems, 4);
        snapshots::restore(box.engine(), snapshots::list(box.dbPath()).first());
        QCOMPARE(fieldValues(*ip, "COMPUTER"), (QStringList{"beta", "delta", "gamma"}));
        StoreNotices::instance().take();
    }

    // Another process with the table open reads the restored rows and index, not its cache.
    void restoreReachesOtherProcesses_data() {
        QTest::addColumn<QString>("shim");
        QTest::newRow("no delay") << QString();
        QTest::newRow("0-2 ms a call") << QString("0-2000");
    }
    void restoreReachesOtherProcesses() {
        QFETCH(QString, shim);
        Sandbox box;
        box.createInventory();
        QStringList names; // enough for trees of several levels, so that a later write does
        auto ip = box.open("IP.DBF"); // not touch every block the restore changed
        for (int i = 0; i < 300; ++i) {
            names << QString("host%1").arg(i, 3, 10, QChar('0'));
            appendRow(*ip, {{"SYSID", "QN1"}, {"COMPUTER", names.last()}});
        }
        snapshots::take(box.engine(), "before");
        ip->first();
        for (int i = 0; i < 150; ++i)
            ip->next();
        editRow(*ip, {{"COMPUTER", "zzz"}});
        ip->close();
        Worker w = startWorker({"reread", box.file("IP.dbf"), "COMPUTER", "COMPUTER"}, shim);
        QStringList seen = names;
        seen.removeAt(150);
        QCOMPARE(linesUntil(*w, "ready"), seen + QStringList({"zzz", "rows 300", "ready"}));

        // Restored, then a row written before the worker looks again: the table's header and
        // the index's journal must not pass for the ones it saw.
        snapshots::restore(box.engine(), withReason(box.dbPath(), "before"));
        Seeding{&box.engine()}.put("IP.DBF", {{"SYSID", "QN9"}, {"COMPUTER", "aaa"}});
        w->write("\n");
        QCOMPARE(linesUntil(*w, "index"),
                 QStringList("aaa") + names + QStringList({"rows 301", "index ok"}));
        w->closeWriteChannel();
        QVERIFY(w->waitForFinished(30000));
    }

    // Snapshots taken while another process appends (one by one, or in groups) are each one
    // whole moment of the table: every row up to a count, every tag in step with them.
    void snapshotWhileAnotherProcessAppends_data() {
        QTest::addColumn<QString>("group");
        QTest::newRow("plain appends") << QString();
        QTest::newRow("groups of 25") << QString("25");
    }
    void snapshotWhileAnotherProcessAppends() {
        QFETCH(QString, group);
        Sandbox box;
        box.createInventory();
        QStringList args{"forever", box.file("IP.dbf"), "W"};
        if (!group.isEmpty())
            args << group;
        Worker w = startWorker(args);
        QVERIFY(!linesUntil(*w, "1 ").isEmpty());
        uint32_t last = 0;
        for (int i = 0; i < 3; ++i) {
            const QString taken = snapshots::take(box.engine(), QString::number(i));
            QTemporaryDir copy;
            for (const char* ext : {"IP.dbf", "IP.mdx"})
                QVERIFY(QFile::copy(QDir(taken).filePath(ext), copy.filePath(ext)));
            TableFile f(copy.filePath("IP.dbf"));
            f.verifyIndexes();
            QCOMPARE(f.repairs(), 0);
            QVERIFY(f.dbf().recordCount() >= last);
            last = f.dbf().recordCount();
            QCOMPARE(storedValues(copy.filePath("IP.dbf"), "SYSID").size(), qsizetype(last));
            QCOMPARE(storedValues(copy.filePath("IP.dbf"), "SYSID").value(int(last) - 1),
                     QString("W-%1").arg(last));
            QTest::qWait(50);
        }
        w->kill();
        w->waitForFinished();
        QVERIFY(last > 0);
        QCOMPARE(StoreNotices::instance().take(), QStringList());
    }

    // A bulk append killed half-way, then the snapshot taken before it restored: the old
    // tables, byte for byte.
    void killedBulkAppendRestored_data() { snapshotWhileAnotherProcessAppends_data(); }
    void killedBulkAppendRestored() {
        QFETCH(QString, group);
        Sandbox box;
        box.createInventory();
        seed(box.engine());
        snapshots::take(box.engine(), "Import of big.csv");
        const Files before = tableFiles(box.dbPath());
        QStringList args{"forever", box.file("IP.dbf"), "W"};
        if (!group.isEmpty())
            args << group;
        Worker w = startWorker(args);
        QVERIFY(!linesUntil(*w, "60 ").isEmpty());
        w->kill();
        w->waitForFinished();
        QVERIFY(Seeding{&box.engine()}.column("IP.DBF", "SYSID").size() >= 60);

        snapshots::restore(box.engine(), withReason(box.dbPath(), "Import of big.csv"));
        QCOMPARE(tableFiles(box.dbPath()), before);
        expectSoundIndexes(box.dbPath());
        QCOMPARE(Seeding{&box.engine()}.column("IP.DBF", "COMPUTER"),
                 (QStringList{"alpha", "beta", "gamma"}));
        StoreNotices::instance().take();
    }

    // The newest are kept; a folder that is not whole is never offered, and a copy whose
    // content changed is refused before anything is written.
    void keptAndOffered_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("listed");
        QTest::newRow("killed before the manifest") << "no manifest" << false;
        QTest::newRow("killed before the rename") << "partial" << false;
        QTest::newRow("a file cut short") << "cut" << false;
        QTest::newRow("a file missing") << "missing" << false;
        QTest::newRow("a byte changed") << "changed" << true;
    }
    void keptAndOffered() {
        QFETCH(QString, damage);
        QFETCH(bool, listed);
        Sandbox box;
        box.createInventory();
        seed(box.engine());
        for (int i = 1; i <= snapshots::kKept + 2; ++i)
            snapshots::take(box.engine(), QString::number(i));
        QStringList reasons;
        for (const snapshots::Snapshot& s : snapshots::list(box.dbPath()))
            reasons << s.reason;
        QCOMPARE(reasons, (QStringList{"12", "11", "10", "9", "8", "7", "6", "5", "4", "3"}));

        const QString newest = snapshots::list(box.dbPath()).first().path;
        const QString ip = QDir(newest).filePath("IP.dbf");
        if (damage == "no manifest")
            QFile::remove(QDir(newest).filePath("manifest.txt"));
        else if (damage == "partial")
            QDir().rename(newest, QFileInfo(newest).path() + "/.partial-x-1");
        else if (damage == "cut")
            writeBytes(ip, fileBytes(ip).chopped(1));
        else if (damage == "missing")
            QFile::remove(QDir(newest).filePath("Hardware.mdx"));
        else
            writeBytes(ip, fileBytes(ip).replace("alpha", "ALPHA"));
        QCOMPARE(snapshots::list(box.dbPath()).first().reason, QString(listed ? "12" : "11"));
        if (listed) {
            Seeding{&box.engine()}.put("IP.DBF", {{"COMPUTER", "kept"}});
            const Files now = tableFiles(box.dbPath());
            try {
                snapshots::restore(box.engine(), snapshots::list(box.dbPath()).first());
                QFAIL("a changed copy was restored");
            } catch (const Error& e) {
                QVERIFY(e.message().contains("damaged"));
            }
            QCOMPARE(tableFiles(box.dbPath()), now);
        }
    }

    // Admin > Setup Database Info > Snapshots...: choose one, answer the question, restored.
    void adminRestores() {
        Inventory inv("QN");
        inv.system("QN0001", {}, "10.0.0.1");
        inv.system("QN0002", {}, "10.0.0.2");
        snapshots::take(*inv.engine, "Import of staff.csv");
        inv.system("QN0003", {}, "10.0.0.3");

        Program& p = *inv.program;
        user::menu(p.TForm6().ui().MainMenu1, {"Admin"});
        QTRY_VERIFY(p.TForm17().isVisible());
        user::click(p.TForm17().ui().OKButton);
        user::menu(p.TForm6().ui().MainMenu1, {"Admin", "Setup Database Info"});
        QTRY_VERIFY(p.TForm16().isVisible());
        user::click(p.TForm16().ui().SnapshotsButton);
        SnapshotsWindow& w = p.TForm16().snapshotsWindow();
        QTRY_VERIFY(w.isVisible());
        QTreeWidget* list = w.ui().SnapshotList;
        QCOMPARE(entries(list, 1), QStringList{"Import of staff.csv"});
        QCOMPARE(entries(list, 2), QStringList{"2"});
        QVERIFY(!w.ui().RestoreButton->isEnabled());

        user::clickCell(list, 0);
        MessageService::queueAnswer(QMessageBox::No);
        user::click(w.ui().RestoreButton);
        QCOMPARE(inv.column("SYSTEMS.DBF", "SYSID").size(), 3);
        user::clickCell(list, 0);
        MessageService::queueAnswer(QMessageBox::Yes);
        user::click(w.ui().RestoreButton);
        QCOMPARE(inv.column("SYSTEMS.DBF", "SYSID"), (QStringList{"QN0001", "QN0002"}));
        const QList<MessageService::Shown> shown = MessageService::takeShown();
        QCOMPARE(shown.size(), 3);
        QVERIFY(shown[1].kind == MessageService::Kind::Alert);
        QVERIFY(shown[1].text.contains("(Import of staff.csv, 2 systems)"));
        QVERIFY(shown[2].text.startsWith("The inventory was restored to the snapshot of"));
        QCOMPARE(entries(list, 2), (QStringList{"3", "2"}));
    }
};

QN_GUI_TEST_MAIN(SnapshotTest)
#include "test_snapshots.moc"
