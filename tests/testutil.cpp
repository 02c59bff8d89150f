#include "testutil.h"

#include "schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

namespace qn::test {

Sandbox::Sandbox() {
    QDir().mkpath(dbPath());
    m_engine = std::make_unique<Engine>(m_dir.path() + QStringLiteral("/engine.cfg"));
    m_engine->initialize();
    m_engine->addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + dbPath());
}

void Sandbox::createInventory() {
    schema::createAll(dbPath());
}

QByteArray run(const QString& program, const QStringList& args, int* exitCode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForFinished(300000))
        qWarning() << "timed out:" << program << args;
    QByteArray err = p.readAllStandardError();
    if (exitCode)
        *exitCode = p.exitCode();
    else if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qWarning().noquote() << program << args << "failed:" << err;
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

QString sourceDir() {
    return qEnvironmentVariable("QUILLNET_SOURCE_DIR", QStringLiteral("."));
}
QString buildDir() {
    return qEnvironmentVariable("QUILLNET_BUILD_DIR", QStringLiteral("."));
}

} // namespace qn::test
