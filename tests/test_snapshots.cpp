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

#include <QTreeWidget>

using namespace qn;
using namespace qn::test;

namespace {

using Files = QMap<QString, QByteArray>;

// The ten files of the five tables; what a restore writes on purpose (the change stamp, the
// index's journal) blanked, so that the rest must be byte for byte the snapshot's.
Files tableFiles(const QString& folder) {
    Files out;
    for (const QString& base : snapshots::lockOrder()) {
        QByteArray dbf = fileBytes(findFileIgnoringCase(folder, base + ".dbf"));
        QByteArray mdx = fileBytes(findFileIgnoringCase(folder, base + ".mdx"));
        out[base + ".dbf"] = dbf.replace(dbf::kStampAt, 4, QByteArray(4, '\0'));
        out[base + ".mdx"] = mdx.replace(48, 512 - 48, QByteArray(512 - 48, '\0'));
    }
    return out;
}

// The table's tags agree with its rows, and nothing had to be mended.
void expectSound(const QString& dbf) {
    TableFile f(dbf);
    f.verifyIndexes();
    QCOMPARE(f.repairs(), 0);
}

void fillSample(Engine& engine) {
    Seeding s{&engine};
    s.system("QN0001", {{"USERFIRST", "Zoë"}, {"COMPANY", "A, \"B\" & C"}}, "10.0.0.1",
             {{"COMPUTER", "alpha"}});
    s.system("QN0002", {}, "10.0.0.2", {{"COMPUTER", "beta"}});
    s.system("QN10000", {}, "10.0.1.255", {{"COMPUTER", "gamma"}});
    s.item("HARDWARE.DBF", "QN0001", "Monitor");
    s.item("SOFTWARE.DBF", "QN0002", "Editor");
    s.resource("HW", "Disk", "Spare disk");
}

// The worker's lines up to and including the first that starts with last.
QStringList linesUntil(QProcess& p, const QString& last) {
    QStringList out;
    do
        out << waitForLine(p);
    while (!out.last().isEmpty() && !out.last().startsWith(last));
    return out;
}

} // namespace

class SnapshotTest : public QObject {
    Q_OBJECT
private slots:
    // Another process with the table open reads the restored rows and index, not its cache.
    void restoreReachesOtherProcesses_data() {
        QTest::addColumn<QStringList>("shim");
        QTest::newRow("no delay") << QStringList();
        QTest::newRow("0-2 ms a call") << QStringList{"QNSLOW_US=0-2000"};
    }
    void restoreReachesOtherProcesses() {
        QFETCH(QStringList, shim);
        Sandbox box;
        box.createInventory();
        QStringList names; // enough for trees of several levels, so that a later write does
        auto ip = box.open("IP.DBF"); // not touch every block the restore changed
        for (int i = 0; i < 300; ++i) {
            names << QString("host%1").arg(i, 3, 10, QChar('0'));
            appendRow(*ip, {{"SYSID", "QN1"}, {"COMPUTER", names.last()}});
        }
        const QString before = snapshots::take(box.engine(), "before");
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
        snapshots::restore(box.engine(), before);
        Seeding{&box.engine()}.put("IP.DBF", {{"SYSID", "QN9"}, {"COMPUTER", "aaa"}});
        w->write("\n");
        QCOMPARE(linesUntil(*w, "index"),
                 QStringList("aaa") + names + QStringList({"rows 301", "index ok"}));
        w->closeWriteChannel();
        QVERIFY(w->waitForFinished(30000));
    }

    // Snapshots taken while another process appends (one by one, or in groups) are each one
    // moment: rows up to a count, every tag in step. That process killed half-way and a table
    // damaged, the tables come back from the snapshot taken before, byte for byte, and a table
    // this process keeps open shows them.
    void underAnotherWriter_data() {
        QTest::addColumn<QStringList>("group");
        QTest::newRow("plain appends") << QStringList();
        QTest::newRow("groups of 25") << QStringList{"25"};
    }
    void underAnotherWriter() {
        QFETCH(QStringList, group);
        Sandbox box;
        box.createInventory();
        fillSample(box.engine());
        const QString before = snapshots::take(box.engine(), "Import of big.csv");
        Worker w = startWorker(QStringList{"forever", box.file("IP.dbf"), "W"} + group);
        qsizetype last = 0;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!linesUntil(*w, "").last().isEmpty()); // it has written some
            const QString taken = snapshots::take(box.engine(), QString::number(i));
            expectSound(QDir(taken).filePath("IP.dbf"));
            const QStringList ids = storedValues(QDir(taken).filePath("IP.dbf"), "SYSID");
            QVERIFY(ids.size() >= last);
            last = ids.size();
            QCOMPARE(ids.last(), QString("W-%1").arg(last - 3));
        }
        w->kill();
        w->waitForFinished();
        auto ip = box.open("IP.DBF", "COMPUTER");
        QVERIFY(fieldValues(*ip, "COMPUTER").size() >= last);
        // Damage behind the engine's back: a software row's key changed, its index not.
        QByteArray sw = fileBytes(box.file("Software.dbf"));
        writeBytes(box.file("Software.dbf"), sw.replace("QN0002", "XN0002"));

        const QString undo = snapshots::restore(box.engine(), before);
        QCOMPARE(tableFiles(box.dbPath()), tableFiles(before));
        for (const QString& base : snapshots::lockOrder())
            expectSound(findFileIgnoringCase(box.dbPath(), base + ".dbf"));
        QCOMPARE(fieldValues(*ip, "COMPUTER"), (QStringList{"alpha", "beta", "gamma"}));
        QCOMPARE(snapshots::list(box.dbPath()).first().path, undo); // the tables just before
        StoreNotices::instance().take();
    }

    // The newest are kept; a folder that is not whole is never offered, and one whose content
    // changed is refused before anything is written.
    void keptAndOffered_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("killed before the manifest") << "no manifest";
        QTest::newRow("killed before the rename") << "partial";
        QTest::newRow("a file cut short") << "cut";
        QTest::newRow("a byte changed") << "changed"; // listed, but not restored
    }
    void keptAndOffered() {
        QFETCH(QString, damage);
        Sandbox box;
        box.createInventory();
        fillSample(box.engine());
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
        else
            writeBytes(ip, fileBytes(ip).replace("alpha", "ALPHA"));
        QCOMPARE(snapshots::list(box.dbPath()).first().reason,
                 QString(damage == "changed" ? "12" : "11"));
        if (damage == "changed") {
            const Files now = tableFiles(box.dbPath());
            QVERIFY_THROWS_EXCEPTION(Error, snapshots::restore(box.engine(), newest));
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
        user::click(p.TForm17().ui().OKButton); // no password set
        user::menu(p.TForm6().ui().MainMenu1, {"Admin", "Setup Database Info"});
        user::click(p.TForm16().ui().SnapshotsButton);
        SnapshotsWindow& w = p.TForm16().snapshotsWindow();
        QTreeWidget* list = w.ui().SnapshotList;
        QCOMPARE(entries(list, 1) + entries(list, 2), (QStringList{"Import of staff.csv", "2"}));
        QVERIFY(!w.ui().RestoreButton->isEnabled());

        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            user::clickCell(list, 0);
            MessageService::queueAnswer(answer);
            user::click(w.ui().RestoreButton);
        }
        QCOMPARE(inv.column("SYSTEMS.DBF", "SYSID"), (QStringList{"QN0001", "QN0002"}));
        const QList<MessageService::Shown> shown = MessageService::takeShown();
        QVERIFY(shown.size() == 3 && shown[1].kind == MessageService::Kind::Alert);
        QVERIFY(shown[1].text.contains("(Import of staff.csv, 2 systems)"));
        QVERIFY(shown[2].text.startsWith("The inventory was restored to the snapshot of"));
        QCOMPARE(entries(list, 2), (QStringList{"3", "2"}));
    }
};

QN_GUI_TEST_MAIN(SnapshotTest)
#include "test_snapshots.moc"
