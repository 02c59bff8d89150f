#include "testutil.h"

#include "schema.h"

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

void Sandbox::createInventory() { schema::createAll(dbPath()); }

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

QString sourceDir() { return qEnvironmentVariable("QUILLNET_SOURCE_DIR", QStringLiteral(".")); }
QString buildDir() { return qEnvironmentVariable("QUILLNET_BUILD_DIR", QStringLiteral(".")); }

} // namespace qn::test
