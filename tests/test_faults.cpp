// Faults a shared folder can throw at the store: a read-only folder, a disk that fills up in
// the middle of a write, and a folder that disappears while a table is open. Each must give a
// clear error and keep every row already stored, with header and indexes consistent.
//
// Cases that need their own mount or resource limits re-run this binary as a child:
//   test_faults --child <case> <database folder> <arguments...>
#include "dbffile.h"
#include "engine.h"
#include "error.h"
#include "mdxfile.h"
#include "table.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qn;

namespace {

QString sysId(int i) {
    return QStringLiteral("F%1").arg(i, 7, 10, QChar(u'0'));
}

std::unique_ptr<Table> openIp(Engine& engine) {
    auto t = std::make_unique<Table>(engine);
    t->setDatabaseName(QStringLiteral("IP"));
    t->setTableName(QStringLiteral("IP.DBF"));
    t->open();
    return t;
}

void appendRow(Table& t, int i) {
    t.append();
    t.setFieldText(QStringLiteral("SYSID"), sysId(i));
    t.setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("host-%1").arg(i));
    t.setFieldText(QStringLiteral("IPSTRING"), QStringLiteral("%1").arg(i, 12, 10, QChar(u'0')));
    t.setFieldText(QStringLiteral("ALIAS1"), QStringLiteral("www%1").arg(i));
    t.setFieldText(QStringLiteral("TYPE"), QStringLiteral("PC"));
    t.post();
}

// The SYSIDs stored in the table, after checking that the header count matches the file and
// that every tag holds exactly one entry per record in a sound tree. Empty on failure, with
// the reason in *why.
std::set<QString> storedIds(const QString& dbPath, QString* why) {
    std::set<QString> ids;
    try {
        DbfFile dbf;
        dbf.open(dbPath + QStringLiteral("/IP.dbf"), false);
        if (dbf.headerCount() != dbf.recordCount()) {
            *why = QStringLiteral("header count %1, complete records %2")
                       .arg(dbf.headerCount())
                       .arg(dbf.recordCount());
            return {};
        }
        const DbfField& f = dbf.fields()[size_t(dbf.fieldIndex("SYSID"))];
        for (uint32_t r = 1; r <= dbf.recordCount(); ++r) {
            const char* rec = dbf.record(r);
            ids.insert(QString::fromLatin1(rec + f.offset, f.length).trimmed());
        }
        MdxFile mdx;
        mdx.open(dbPath + QStringLiteral("/IP.mdx"), false);
        for (int t = 0; t < mdx.tagCount(); ++t) {
            size_t keys = mdx.tag(t).check().size();
            if (keys != dbf.recordCount()) {
                *why = QStringLiteral("tag %1 has %2 keys for %3 records")
                           .arg(QString::fromStdString(mdx.tag(t).name()))
                           .arg(keys)
                           .arg(dbf.recordCount());
                return {};
            }
        }
    } catch (const StoreError& e) {
        *why = e.message();
        return {};
    }
    return ids;
}

std::set<QString> idRange(int from, int to) {
    std::set<QString> s;
    for (int i = from; i <= to; ++i)
        s.insert(sysId(i));
    return s;
}

// The table also opens through the engine and shows every row.
int engineRowCount(Engine& engine) {
    auto t = openIp(engine);
    return t->recordCount();
}

// ---- child side ----------------------------------------------------------------------

struct ChildEngine {
    QTemporaryDir dir;
    std::unique_ptr<Engine> engine;
    explicit ChildEngine(const QString& dbPath) {
        engine = std::make_unique<Engine>(dir.path() + QStringLiteral("/engine.cfg"));
        engine->initialize();
        engine->addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + dbPath);
    }
};

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Reads the rows, then tries to add and to change one; both must be refused.
int childReadOnly(const QString& dbPath, int expectedRows) {
    ChildEngine ce(dbPath);
    auto t = openIp(*ce.engine);
    say(QStringLiteral("rows %1").arg(t->recordCount()));
    if (t->recordCount() != expectedRows)
        return 3;
    int refused = 0;
    try {
        appendRow(*t, 999);
    } catch (const StoreError& e) {
        say(QStringLiteral("append refused: %1").arg(e.message()));
        ++refused;
        t->cancel();
    }
    try {
        t->first();
        t->edit();
        t->setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("changed"));
        t->post();
    } catch (const StoreError& e) {
        say(QStringLiteral("edit refused: %1").arg(e.message()));
        ++refused;
        t->cancel();
    }
    return refused == 2 ? 0 : 4;
}

// Appends under a file-size limit until a write fails.
int childFileSize(const QString& dbPath, int firstId, qint64 limit) {
    ChildEngine ce(dbPath);
    auto t = openIp(*ce.engine);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl {};
    rl.rlim_cur = rl.rlim_max = rlim_t(limit);
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
        return 5;
    int posted = 0;
    for (int i = firstId; i < firstId + 20000; ++i) {
        try {
            appendRow(*t, i);
            ++posted;
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
    const QString kind = args.value(0), dbPath = args.value(1);
    if (kind == QLatin1String("readonly"))
        return childReadOnly(dbPath, args.value(2).toInt());
    if (kind == QLatin1String("fsize"))
        return childFileSize(dbPath, args.value(2).toInt(), args.value(3).toLongLong());
    return 2;
}

struct ChildResult {
    int exitCode = -1;
    QString out, err;
};

ChildResult runSelf(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

QString self() {
    return QCoreApplication::applicationFilePath();
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void readOnlyFolderRefusesWritesAndKeepsRows();
    void fullDiskKeepsPostedRows_data();
    void fullDiskKeepsPostedRows();
    void vanishedFolderRefusesWrites();
};

namespace {

void fillTable(test::Sandbox& box, int rows) {
    box.createInventory();
    auto t = openIp(box.engine());
    for (int i = 1; i <= rows; ++i)
        appendRow(*t, i);
}

} // namespace

void TestFaults::readOnlyFolderRefusesWritesAndKeepsRows() {
    test::Sandbox box;
    fillTable(box, 25);
    const QString db = box.dbPath();
    ChildResult r;
    if (::geteuid() == 0) {
        // Permissions do not stop root: a read-only bind mount in a private mount namespace.
        const QString script = QStringLiteral("mount --bind \"$1\" \"$1\" && "
                                              "mount -o remount,bind,ro \"$1\" \"$1\" || exit 77; "
                                              "exec \"$2\" --child readonly \"$1\" 25");
        r = runSelf(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                     QStringLiteral("sh"), db, self()});
        if (r.exitCode == 77 || r.err.contains(QLatin1String("unshare failed")) ||
            r.err.contains(QLatin1String("Operation not permitted")))
            QSKIP(qPrintable(QStringLiteral("running as root, and a read-only mount is not "
                                            "permitted here: ") +
                             r.err.trimmed()));
    } else {
        for (const QFileInfo& fi : QDir(db).entryInfoList(QDir::Files))
            QVERIFY(QFile::setPermissions(fi.filePath(), QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::ExeOwner));
        r = runSelf(self(), {QStringLiteral("--child"), QStringLiteral("readonly"), db,
                             QStringLiteral("25")});
        QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QFileInfo& fi : QDir(db).entryInfoList(QDir::Files))
            QFile::setPermissions(fi.filePath(), QFile::ReadOwner | QFile::WriteOwner);
    }
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    // Both refusals say which table and why.
    QVERIFY2(r.out.count(QStringLiteral("IP.dbf")) >= 2, qPrintable(r.out));
    QVERIFY2(r.out.count(QStringLiteral("read-only")) >= 2, qPrintable(r.out));
    QString why;
    QCOMPARE(storedIds(db, &why), idRange(1, 25));
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

void TestFaults::fullDiskKeepsPostedRows_data() {
    // How far past the largest file the limit lies: room for a few index blocks and rows, or
    // none, so that the very first index write fails.
    QTest::addColumn<qint64>("room");
    QTest::newRow("index grows into the limit") << qint64(3000);
    QTest::newRow("many rows, then the limit") << qint64(40000);
    QTest::newRow("no room at all") << qint64(0);
}

void TestFaults::fullDiskKeepsPostedRows() {
    QFETCH(qint64, room);
    test::Sandbox box;
    fillTable(box, 40);
    const QString db = box.dbPath();
    const qint64 dbf = QFileInfo(db + QStringLiteral("/IP.dbf")).size();
    const qint64 mdx = QFileInfo(db + QStringLiteral("/IP.mdx")).size();
    const qint64 limit = std::max(dbf, mdx) + room;
    ChildResult r = runSelf(self(), {QStringLiteral("--child"), QStringLiteral("fsize"), db,
                                     QStringLiteral("41"), QString::number(limit)});
    QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QLatin1String("error: ")) && r.out.contains(QLatin1String("IP.")),
             qPrintable(r.out));
    const int posted = r.out.section(QStringLiteral("posted "), 1).section(u'\n', 0, 0).toInt();
    // Reopened, the rows posted before are there and header and tags agree (an index left
    // half-written is repaired); the failed row either made it whole or not at all.
    const int engineRows = engineRowCount(box.engine());
    QString why;
    std::set<QString> ids = storedIds(db, &why);
    QVERIFY2(why.isEmpty(), qPrintable(why + QStringLiteral("\n") + r.out));
    std::set<QString> expected = idRange(1, 40 + posted);
    std::set<QString> withFailed = idRange(1, 41 + posted);
    QVERIFY2(ids == expected || ids == withFailed,
             qPrintable(QStringLiteral("%1 rows stored, %2 posted\n").arg(ids.size()).arg(posted) +
                        r.out));
    QCOMPARE(engineRows, int(ids.size()));
    // And the table takes rows again once there is room.
    {
        auto t = openIp(box.engine());
        appendRow(*t, 90000);
    }
    ids = storedIds(db, &why);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(ids.count(sysId(90000)) == 1);
}

void TestFaults::vanishedFolderRefusesWrites() {
    test::Sandbox box;
    fillTable(box, 10);
    const QString db = box.dbPath(), away = box.path() + QStringLiteral("/away");
    {
        auto t = openIp(box.engine());
        appendRow(*t, 11);
        // Moved away (a share that went offline): a write must not land in the moved files.
        QVERIFY(QDir().rename(db, away));
        try {
            appendRow(*t, 12);
            QFAIL("a row was posted into a folder that is gone");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QLatin1String("IP.dbf")) &&
                         e.message().contains(QLatin1String("no longer")),
                     qPrintable(e.message()));
            t->cancel();
        }
        try {
            t->first();
            t->edit();
            t->setFieldText(QStringLiteral("COMPUTER"), QStringLiteral("changed"));
            t->post();
            QFAIL("a row was changed in a folder that is gone");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QLatin1String("no longer")), qPrintable(e.message()));
            t->cancel();
        }
        // Removed outright: the same clear refusal, not a write into a deleted file.
        QVERIFY(QDir().mkpath(db));
        QVERIFY(QFile::copy(away + QStringLiteral("/IP.dbf"), db + QStringLiteral("/IP.dbf")));
        QVERIFY(QFile::copy(away + QStringLiteral("/IP.mdx"), db + QStringLiteral("/IP.mdx")));
        QVERIFY(QDir(db).removeRecursively());
        try {
            appendRow(*t, 13);
            QFAIL("a row was posted into a removed folder");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QLatin1String("no longer")), qPrintable(e.message()));
            t->cancel();
        }
    }
    // The folder comes back: everything posted before it went is there and consistent.
    QVERIFY(QDir().rename(away, db));
    QString why;
    QCOMPARE(storedIds(db, &why), idRange(1, 11));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(engineRowCount(box.engine()), 11);
    auto t = openIp(box.engine());
    appendRow(*t, 12);
    QCOMPARE(t->recordCount(), 12);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--child"))
        return runChild(args.mid(2));
    TestFaults tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "test_faults.moc"
