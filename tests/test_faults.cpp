// Faults a shared folder can throw at the store: a read-only folder, a disk that fills up in
// the middle of a write, and a folder that disappears while a table is open. Each must give a
// clear error and keep every row already stored, with header and indexes consistent.
//
// Cases that need their own mount or resource limits re-run this binary as a child:
//   test_faults --child <case> <database folder> <arguments...>
#include "dbffile.h"
#include "error.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace qn;

namespace {

QString sysId(int i) {
    return QStringLiteral("F%1").arg(i, 7, 10, QChar(u'0'));
}

void appendRow(Table& t, int i) {
    test::appendRow(t, {{"SYSID", sysId(i)},
                        {"COMPUTER", QStringLiteral("host-%1").arg(i)},
                        {"IPSTRING", QStringLiteral("%1").arg(i, 12, 10, QChar(u'0'))},
                        {"ALIAS1", QStringLiteral("www%1").arg(i)},
                        {"TYPE", "PC"}});
}

// The SYSIDs stored in the table, after checking that the header counts every complete row
// and that every tag agrees with the rows with nothing to mend; the fault if not.
QStringList storedIds(const QString& dbPath) {
    const QString path = dbPath + "/IP.dbf";
    try {
        DbfFile dbf;
        dbf.open(path, false);
        if (dbf.headerCount() != dbf.recordCount())
            return {QStringLiteral("header count %1, complete records %2")
                        .arg(dbf.headerCount())
                        .arg(dbf.recordCount())};
        TableFile file(path);
        file.verifyIndexes();
        if (file.repairs() != 0)
            return {QStringLiteral("the index needed mending")};
        return test::storedValues(path, "SYSID");
    } catch (const StoreError& e) {
        return {e.message()};
    }
}

QStringList idRange(int from, int to) {
    QStringList s;
    for (int i = from; i <= to; ++i)
        s << sysId(i);
    return s;
}

// ---- child side ----------------------------------------------------------------------

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Reads the rows, then tries to add and to change one; both must be refused.
int childReadOnly(Table& t, int expectedRows) {
    say(QStringLiteral("rows %1").arg(t.recordCount()));
    if (t.recordCount() != expectedRows)
        return 3;
    int refused = 0;
    for (bool append : {true, false}) {
        try {
            if (append) {
                appendRow(t, 999);
            } else {
                t.first();
                test::editRow(t, {{"COMPUTER", "changed"}});
            }
        } catch (const StoreError& e) {
            say(QStringLiteral("%1 refused: %2").arg(append ? "append" : "edit", e.message()));
            ++refused;
            t.cancel();
        }
    }
    return refused == 2 ? 0 : 4;
}

// Appends under a file-size limit until a write fails.
int childFileSize(Table& t, int firstId, qint64 limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{rlim_t(limit), rlim_t(limit)};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
        return 5;
    int posted = 0;
    for (int i = firstId; i < firstId + 20000; ++i, ++posted) {
        try {
            appendRow(t, i);
        } catch (const StoreError& e) {
            say(QStringLiteral("posted %1").arg(posted));
            say(QStringLiteral("error: %1").arg(e.message()));
            return 0;
        }
    }
    say(QStringLiteral("posted %1 without an error").arg(posted));
    return 6;
}

int runChild(const QStringList& args) {
    test::Sandbox box(args.value(1));
    auto t = box.open("IP.DBF");
    if (args.value(0) == QLatin1String("readonly"))
        return childReadOnly(*t, args.value(2).toInt());
    if (args.value(0) == QLatin1String("fsize"))
        return childFileSize(*t, args.value(2).toInt(), args.value(3).toLongLong());
    return 2;
}

struct ChildResult {
    int exitCode = -1;
    QString out, err;
};

ChildResult runSelf(const QString& program, const QStringList& args) {
    ChildResult r;
    QByteArray err;
    r.out = QString::fromLocal8Bit(test::run(program, args, &r.exitCode, &err));
    r.err = QString::fromLocal8Bit(err);
    return r;
}

void fillTable(test::Sandbox& box, int rows) {
    box.createInventory();
    auto t = box.open("IP.DBF");
    for (int i = 1; i <= rows; ++i)
        appendRow(*t, i);
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
    const QString self = QCoreApplication::applicationFilePath();
private slots:
    void readOnlyFolderRefusesWritesAndKeepsRows() {
        test::Sandbox box;
        fillTable(box, 25);
        const QString db = box.dbPath();
        ChildResult r;
        if (::geteuid() == 0) {
            // Permissions do not stop root: a read-only bind mount in a private mount namespace.
            const QString script = "mount --bind \"$1\" \"$1\" && "
                                   "mount -o remount,bind,ro \"$1\" \"$1\" || exit 77; "
                                   "exec \"$2\" --child readonly \"$1\" 25";
            r = runSelf("unshare", {"-m", "sh", "-c", script, "sh", db, self});
            if (r.exitCode == 77 || r.err.contains("unshare failed") ||
                r.err.contains("Operation not permitted"))
                QSKIP(qPrintable("running as root, and a read-only mount is not permitted here: " +
                                 r.err.trimmed()));
        } else {
            auto setAll = [&](QFile::Permissions files, QFile::Permissions folder) {
                for (const QFileInfo& fi : QDir(db).entryInfoList(QDir::Files))
                    QVERIFY(QFile::setPermissions(fi.filePath(), files));
                QVERIFY(QFile::setPermissions(db, folder));
            };
            setAll(QFile::ReadOwner, QFile::ReadOwner | QFile::ExeOwner);
            r = runSelf(self, {"--child", "readonly", db, "25"});
            setAll(QFile::ReadOwner | QFile::WriteOwner,
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        // Both refusals say which table and why.
        QVERIFY2(r.out.count("IP.dbf") >= 2 && r.out.count("read-only") >= 2, qPrintable(r.out));
        QCOMPARE(storedIds(db), idRange(1, 25));
    }

    void fullDiskKeepsPostedRows_data() {
        // How far past the largest file the limit lies: room for a few index blocks and rows,
        // or none, so that the very first index write fails.
        QTest::addColumn<qint64>("room");
        QTest::newRow("index grows into the limit") << qint64(3000);
        QTest::newRow("many rows, then the limit") << qint64(40000);
        QTest::newRow("no room at all") << qint64(0);
    }
    void fullDiskKeepsPostedRows() {
        QFETCH(qint64, room);
        test::Sandbox box;
        fillTable(box, 40);
        const QString db = box.dbPath();
        const qint64 limit =
            std::max(QFileInfo(db + "/IP.dbf").size(), QFileInfo(db + "/IP.mdx").size()) + room;
        ChildResult r = runSelf(self, {"--child", "fsize", db, "41", QString::number(limit)});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains("error: ") && r.out.contains("IP."), qPrintable(r.out));
        const int posted = r.out.section("posted ", 1).section(u'\n', 0, 0).toInt();
        // Reopened, the rows posted before are there and header and tags agree (an index left
        // half-written is repaired); the failed row either made it whole or not at all.
        const int engineRows = box.open("IP.DBF")->recordCount();
        const QStringList ids = storedIds(db);
        QVERIFY2(ids == idRange(1, 40 + posted) || ids == idRange(1, 41 + posted),
                 qPrintable(QStringLiteral("%1 posted; stored: %2\n%3")
                                .arg(posted)
                                .arg(ids.join(' ').right(200), r.out)));
        QCOMPARE(engineRows, int(ids.size()));
        // And the table takes rows again once there is room.
        appendRow(*box.open("IP.DBF"), 90000);
        QCOMPARE(storedIds(db).last(), sysId(90000));
    }

    void vanishedFolderRefusesWrites() {
        test::Sandbox box;
        fillTable(box, 10);
        const QString db = box.dbPath(), away = box.path() + "/away";
        {
            auto t = box.open("IP.DBF");
            appendRow(*t, 11);
            auto refused = [&](const std::function<void()>& write) {
                test::expectStoreError(write, "no longer");
                t->cancel();
            };
            // Moved away (a share that went offline): a write must not land in the moved files.
            QVERIFY(QDir().rename(db, away));
            refused([&] { appendRow(*t, 12); });
            test::expectStoreError([&] { appendRow(*t, 12); }, "IP.dbf");
            t->cancel();
            refused([&] {
                t->first();
                test::editRow(*t, {{"COMPUTER", "changed"}});
            });
            // Removed outright: the same clear refusal, not a write into a deleted file.
            QVERIFY(QDir().mkpath(db));
            QVERIFY(QFile::copy(away + "/IP.dbf", db + "/IP.dbf"));
            QVERIFY(QFile::copy(away + "/IP.mdx", db + "/IP.mdx"));
            QVERIFY(QDir(db).removeRecursively());
            refused([&] { appendRow(*t, 13); });
        }
        // The folder comes back: everything posted before it went is there and consistent.
        QVERIFY(QDir().rename(away, db));
        QCOMPARE(storedIds(db), idRange(1, 11));
        auto t = box.open("IP.DBF");
        QCOMPARE(t->recordCount(), 11);
        appendRow(*t, 12);
        QCOMPARE(t->recordCount(), 12);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--child"))
        return runChild(args.mid(2));
    TestFaults tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "test_faults.moc"
