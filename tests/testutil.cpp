#include "testutil.h"

#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace qn::test {

Sandbox::Sandbox(const QString& db)
    : m_db(db.isEmpty() ? m_dir.path() + QStringLiteral("/db") : db) {
    QDir().mkpath(m_db);
    m_engine = otherEngine(QStringLiteral("engine"));
}

std::unique_ptr<Engine> Sandbox::otherEngine(const QString& name) {
    auto engine = std::make_unique<Engine>(m_dir.path() + u'/' + name + QStringLiteral(".cfg"));
    engine->initialize();
    engine->addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + m_db);
    return engine;
}

std::unique_ptr<Table> Sandbox::openTable(Engine& engine, const QString& table,
                                          const QString& tag) {
    auto t = std::make_unique<Table>(engine);
    t->setDatabaseName(QStringLiteral("IP"));
    t->setTableName(table);
    t->setIndexName(tag);
    t->open();
    return t;
}

void appendRow(Table& t, const Values& values) {
    t.append();
    for (const auto& [field, value] : values)
        t.setFieldText(field, value);
    t.post();
}

void editRow(Table& t, const Values& values) {
    t.edit();
    for (const auto& [field, value] : values)
        t.setFieldText(field, value);
    t.post();
}

QString findKey(Table& t, const Values& key, const QString& field) {
    t.setKey();
    for (const auto& [f, value] : key)
        t.setFieldText(f, value);
    return t.gotoKey() ? t.fieldText(field) : QString();
}

QStringList fieldValues(Table& t, const QString& field) {
    QStringList out;
    for (t.first(); !t.eof(); t.next())
        out << t.fieldText(field);
    return out;
}

QStringList storedValues(const QString& dbf, const QString& field) {
    DbfFile file;
    file.open(dbf, false);
    const DbfField& f = file.fields()[size_t(file.fieldIndex(field.toUpper().toStdString()))];
    QStringList out;
    for (uint32_t r = 1; r <= file.recordCount(); ++r)
        if (DbfFile::isLive(file.record(r)))
            out << QString::fromLatin1(file.record(r) + f.offset, f.length).trimmed();
    return out;
}

void expectStoreError(const std::function<void()>& action, const QString& part) {
    try {
        action();
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(part), qPrintable(e.message()));
        return;
    }
    QFAIL(qPrintable("no error; expected one mentioning " + part));
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

Worker startWorker(const QStringList& args, const QStringList& shim, int lockMs) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLNET_LOCK_TIMEOUT_MS", QString::number(lockMs));
    if (!shim.isEmpty()) {
        env.insert("LD_PRELOAD", buildDir() + "/tests/qnslow.so");
        env.insert("QNSLOW_CALLS", "fstat,stat,pread,fcntl");
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        for (const QString& kv : shim)
            env.insert(kv.section(u'=', 0, 0), kv.section(u'=', 1));
    }
    p->setProcessEnvironment(env);
    p->start(buildDir() + "/tests/store_worker", args);
    if (!p->waitForStarted(10000))
        qWarning() << "cannot start the worker" << args;
    return p;
}

QString waitForLine(QProcess& p) {
    QElapsedTimer clock;
    clock.start();
    while (!p.canReadLine() && clock.elapsed() < 20000 && p.state() != QProcess::NotRunning)
        p.waitForReadyRead(100);
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

QByteArray run(const QString& program, const QStringList& args, int* exitCode, QByteArray* err) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(300000))
        qWarning() << "timed out:" << program << args;
    const QByteArray errors = p.readAllStandardError();
    const int code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (err)
        *err = errors;
    if (exitCode)
        *exitCode = code;
    else if (code != 0)
        qWarning().noquote() << program << args << "failed:" << errors;
    return p.readAllStandardOutput();
}

int rerunUnderUnshare(const QStringList& prefix, int argc, char** argv, const char* envVar,
                      const char* what) {
    QProcess probe;
    probe.start(QStringLiteral("unshare"), prefix + QStringList{QStringLiteral("true")});
    const bool permitted = probe.waitForFinished(10000) &&
                           probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    QStringList self{QCoreApplication::applicationFilePath()};
    for (int i = 1; i < argc; ++i)
        self << QString::fromLocal8Bit(argv[i]);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(envVar),
               permitted ? QStringLiteral("active") : QStringLiteral("none"));
    child.setProcessEnvironment(env);
    if (permitted) {
        child.start(QStringLiteral("unshare"), prefix + self);
    } else {
        qWarning("unshare is not permitted here (%s); %s",
                 probe.readAllStandardError().trimmed().constData(), what);
        child.start(self.takeFirst(), self);
    }
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit)
        return 3;
    return child.exitCode();
}

} // namespace qn::test
